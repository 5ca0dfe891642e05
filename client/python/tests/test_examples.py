"""Both examples, run headless as a user would run them."""

from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import helpers

EXAMPLES = helpers.PACKAGE_ROOT / "examples"


def run_example(name: str, *args: str) -> subprocess.CompletedProcess:
    env = {**os.environ, "LUMORA_HOST": helpers.HOST}
    env.pop("PYTHONPATH", None)  # the examples find the package on their own
    return subprocess.run([sys.executable, str(EXAMPLES / name), *args], env=env, capture_output=True,
                          text=True, timeout=120, stdin=subprocess.DEVNULL)


class ExamplesTest(unittest.TestCase):
    def test_dashboard_patches_clock_and_progress_and_quits_on_q(self):
        result = run_example("dashboard.py", "--headless", "--ticks", "7", "--interval", "0.02")
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = result.stdout.splitlines()
        self.assertEqual(rows[0], " Lumora dashboard")
        self.assertRegex(rows[2], r"^ Time  \d\d:\d\d:\d\d$")
        self.assertTrue(rows[3].endswith("7%"), rows[3])
        self.assertEqual(rows[4], " q or Esc quits")
        self.assertRegex(rows[-1], r"^7 updates; last scene update \d+\.\d\d ms$")

    def test_window_example_captures_a_png_headless(self):
        with tempfile.TemporaryDirectory() as folder:
            output = Path(folder) / "card.png"
            result = run_example("window_capture.py", "--headless", "--output", str(output))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout.strip(), f"Wrote {output} (320 x 180 pixels)")
            png = output.read_bytes()
            self.assertEqual(helpers.pixel(png, 2, 2), (0x0b, 0x11, 0x18, 255))  # the background
            red, green, blue, _ = helpers.pixel(png, 45, 122)  # the gradient's blue end
            self.assertGreater(blue, green)
            self.assertGreater(blue, red)


if __name__ == "__main__":
    unittest.main()
