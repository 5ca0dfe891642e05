"""Scene builders: every kind they build is accepted by the backends that draw it."""

from __future__ import annotations

import tempfile
import unittest
from pathlib import Path

import helpers
import lumora
from lumora import scene

IMAGE = helpers.png_data_uri(4, 4, (0, 0, 255, 255))
STYLE = scene.style(fill="#204060", border="#ffffff", border_width=1, radius=3, shadow="#00000080",
                    shadow_blur=2, bevel="raised", pattern="grid", pattern_color="#ffffff20", foreground="#fff")

SHARED = [
    scene.clip([0, 0, 160, 100]),
    scene.rect([2, 2, 20, 10], fill="#ff0000", radius=2, border="#00ff00", border_width=1),
    scene.rect([2, 2, 20, 10]),
    scene.text("Hi", 30, 2, "#ffffff", 12),
    scene.text("Hi", 30, 2, "#ffffff", 12, mono=True),
    scene.line(0, 0, 10, 10, "#ffffff"),
    scene.lines([(0, 0), (5, 5), (10, 0)], "#ffffff", 2),
    scene.segments([[0, 0], [5, 5], [6, 6], [9, 9]], "#ffffff"),
    scene.image(IMAGE, [40, 40, 8, 8]),
    scene.image(IMAGE, (40, 40, 8, 8), tint="#ff0000", fit="contain"),
    scene.image_nine(IMAGE, [50, 40, 16, 16], [1, 1, 1, 1]),
    scene.gradient_rect([0, 60, 40, 20], "#000", "#fff"),
    scene.gradient_rect([0, 60, 40, 20], "#000", "#fff", axis="horizontal", radius=4, border_width=2),
    scene.styled_rect([60, 10, 30, 20], STYLE),
    scene.styled_rect([60, 10, 30, 20], STYLE, effect_clip=[50, 0, 60, 40]),
    scene.marker([100, 10, 12, 12], STYLE),
    scene.marker([100, 30, 12, 12], STYLE, shape="circle", checked=True, effect_clip=[90, 0, 40, 60]),
    scene.caret(120, 10, 16, "#ffffff"),
    scene.focus_ring([2, 2, 20, 10], "#ffff00", radius=3),
    scene.clip(),
]
WINDOW_ONLY = [
    scene.sprite(IMAGE, [130, 60, 8, 8], 2, 2, 4, 10),
    scene.animated_rect([130, 80, 8, 8], "#ff00ff", animation=scene.animation("x", 0, 10, 0.5, loop=True)),
    scene.animated_rect([130, 80, 8, 8], border="#fff", border_width=1,
                        animation=scene.animation("opacity", 0, 1, 1)),
]
TERMINAL_ONLY = [scene.icon("check", 0, 0, 16, "#00ff00")]


class BuildersTest(unittest.TestCase):
    def test_protocol_order_and_defaults(self):
        self.assertEqual(scene.rect((0, 1, 2, 3)), ["rect", [0, 1, 2, 3], "", 0, "", 0])
        self.assertEqual(scene.text("a", 1, 2, "#fff", 16), ["text", "a", 1, 2, "#fff", 16, False])
        self.assertEqual(scene.styled_rect([0, 0, 1, 1], {}), ["styled_rect", [0, 0, 1, 1], {}])
        self.assertEqual(scene.segment("a", [], bounds=(1, 2, 3, 4)), {"id": "a", "bounds": [1, 2, 3, 4],
                                                                       "commands": []})
        self.assertEqual(scene.animation("y", 0, 1, 2, yoyo=True),
                         {"property": "y", "from": 0, "to": 1, "duration": 2, "yoyo": True})

    def test_style_refuses_names_the_host_does_not_know(self):
        with self.assertRaises(TypeError):
            scene.style(fil="#fff")
        self.assertEqual(scene.style(fill="#fff", border=None), {"fill": "#fff"})


class WindowSceneTest(unittest.TestCase):
    def setUp(self):
        self.host = helpers.launch_window()
        self.addCleanup(self.host.close)

    def test_every_window_kind_is_accepted_and_icon_is_not(self):
        self.host.frame([scene.begin("#000000"), *SHARED, *WINDOW_ONLY])
        with self.assertRaises(lumora.HostError) as raised:
            self.host.frame([scene.begin("#000"), *TERMINAL_ONLY])
        self.assertEqual(raised.exception.message, "Invalid draw command at index 1 (icon)")

    def test_captured_pixels_show_the_scene_and_each_patch(self):
        self.host.patch(background="#000000", upsert=[
            scene.segment("left", [scene.rect([0, 0, 80, 100], fill="#ff0000")]),
            scene.segment("right", [scene.rect([80, 0, 80, 100], fill="#0000ff")]),
        ])
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "frame.png"
            result = self.host.capture(str(path))
            self.assertEqual(result, {"path": str(path), "width": 160, "height": 100})
            png = path.read_bytes()
            self.assertEqual(helpers.pixel(png, 10, 50), (255, 0, 0, 255))
            self.assertEqual(helpers.pixel(png, 150, 50), (0, 0, 255, 255))
            self.host.patch(upsert=[scene.segment("right", [scene.rect([80, 0, 80, 100], fill="#00ff00")])])
            self.host.capture(str(path))
            png = path.read_bytes()
            self.assertEqual(helpers.pixel(png, 10, 50), (255, 0, 0, 255))
            self.assertEqual(helpers.pixel(png, 150, 50), (0, 255, 0, 255))

    def test_window_operations(self):
        host = self.host
        width, height = host.measure("Hello", size=16)
        self.assertGreater(width, 0)
        self.assertEqual(len(host.measure_many(["a", "bb"], size=12, mono=True)), 2)
        self.assertEqual(host.set_size(200, 120)["width"], 200)
        self.assertEqual(host.configure(vsync=False, transition_ms=0)["backend"], "window")
        self.assertIsNone(host.text_input([0, 0, 10, 10]))
        self.assertIsNone(host.text_input())
        self.assertIsNone(host.set_title("Python"))
        with self.assertRaises(lumora.HostError) as raised:
            host.measure("x", size=0)
        self.assertEqual(raised.exception.message, "Invalid arguments for renderer operation: measure")
        with self.assertRaises(lumora.HostError) as raised:
            host.snapshot()
        self.assertEqual(raised.exception.message, "Unsupported renderer operation: snapshot")


class TerminalSceneTest(unittest.TestCase):
    def test_every_terminal_kind_is_accepted(self):
        with helpers.launch_terminal(columns=20, rows=6) as host:
            host.frame([scene.begin("#000000"), *SHARED, *TERMINAL_ONLY])
            self.assertEqual(host.snapshot()["rows_text"][0][0], "\u2713")


if __name__ == "__main__":
    unittest.main()
