#!/usr/bin/env python3
"""Draws a small card in a hidden window and captures it to a PNG.

    python3 client/python/examples/window_capture.py [--output card.png] [--scale 2]

Without a display (no DISPLAY or WAYLAND_DISPLAY), or with --headless, the
host runs on SDL's offscreen driver with the software renderer, so this works
on a server or in CI.
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path

try:
    import lumora
except ImportError:  # run from the source tree without installing
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
    import lumora
from lumora import scene

WIDTH, HEIGHT = 320, 180


def card() -> list:
    panel = scene.style(fill="#1e2a38", fill_end="#15202b", border="#3a5068", border_width=1, radius=10,
                        shadow="#00000099", shadow_blur=8, shadow_y=4)
    check = scene.style(fill="#26384a", border="#5b7fa3", border_width=1, radius=3, foreground="#7fd18b")
    return [
        scene.begin("#0b1118"),
        scene.styled_rect([20, 20, WIDTH - 40, HEIGHT - 40], panel, effect_clip=[0, 0, WIDTH, HEIGHT]),
        scene.text("Lumora from Python", 40, 36, "#e8eef4", 20),
        scene.marker([40, 80, 16, 16], check, "square", True),
        scene.text("Captured headless", 64, 79, "#b8c4d0", 15),
        scene.gradient_rect([40, 116, WIDTH - 80, 12], "#3f9fdf", "#7fd18b", "horizontal", 6),
    ]


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", default="window-capture.png", help="the PNG to write")
    parser.add_argument("--scale", type=float, default=1.0, help="device pixels per logical unit")
    parser.add_argument("--headless", action="store_true", help="use the offscreen driver even with a display")
    parser.add_argument("--host", help="the lumora-host binary (default: $LUMORA_HOST, PATH, the build tree)")
    options = parser.parse_args(argv)

    env = {}
    if options.headless or not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        env = {"SDL_VIDEODRIVER": "offscreen", "SDL_RENDER_DRIVER": "software"}
    with lumora.launch(host_path=options.host, env=env) as host:
        host.open("window", hidden=True, width=WIDTH, height=HEIGHT, scale=options.scale, vsync=False,
                  title="Lumora capture")
        host.frame(card())
        result = host.capture(str(Path(options.output).resolve()))
    print(f"Wrote {result['path']} ({result['width']} x {result['height']} pixels)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
