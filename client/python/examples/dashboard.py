#!/usr/bin/env python3
"""A live terminal dashboard: a clock and a progress bar, each a segment of
the scene that is patched on its own. q or Esc quits.

    python3 client/python/examples/dashboard.py             # in a terminal
    python3 client/python/examples/dashboard.py --headless  # no terminal: prints the last frame

Headless, the dashboard runs for --ticks updates, then types "q" into the
host's input decoder itself (feed_input) and quits through the same path a
key press takes.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

try:
    import lumora
except ImportError:  # run from the source tree without installing
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
    import lumora
from lumora import scene

CELL_WIDTH, CELL_HEIGHT = 8, 16
BACKGROUND = "#101820"
QUIT_KEYS = {"q", "Escape"}


def title_segment(width: float) -> dict:
    return scene.segment("title", [
        scene.rect([0, 0, width, CELL_HEIGHT], fill="#24425e"),
        scene.text("Lumora dashboard", CELL_WIDTH, 0, "#ffffff", 16),
        scene.text("q or Esc quits", CELL_WIDTH, 4 * CELL_HEIGHT, "#7f8c99", 16),
    ], bounds=[0, 0, width, 5 * CELL_HEIGHT])


def clock_segment(now: float) -> dict:
    text = time.strftime("%H:%M:%S", time.localtime(now))
    return scene.segment("clock", [scene.text("Time  " + text, CELL_WIDTH, 2 * CELL_HEIGHT, "#9fe0a0", 16, mono=True)],
                         bounds=[0, 2 * CELL_HEIGHT, 20 * CELL_WIDTH, CELL_HEIGHT])


def progress_segment(fraction: float, width: float) -> dict:
    bar_x = CELL_WIDTH
    bar_width = max(CELL_WIDTH, width - 8 * CELL_WIDTH)
    top = 3 * CELL_HEIGHT
    filled = round(bar_width / CELL_WIDTH * fraction) * CELL_WIDTH
    return scene.segment("progress", [
        scene.rect([bar_x, top, bar_width, CELL_HEIGHT], fill="#2c3540"),
        scene.rect([bar_x, top, filled, CELL_HEIGHT], fill="#3f9fdf"),
        scene.text(f"{fraction * 100:3.0f}%", bar_x + bar_width + CELL_WIDTH, top, "#ffffff", 16, mono=True),
    ], bounds=[0, top, width, CELL_HEIGHT])


def run(host: lumora.Host, info: dict, interval: float, ticks: int, headless: bool) -> int:
    width = info["width"]
    host.patch(background=BACKGROUND, upsert=[title_segment(width), clock_segment(time.time()),
                                              progress_segment(0, width)])
    tick = 0
    while True:
        deadline = time.monotonic() + interval
        while True:
            event = host.poll_event(max(0.0, deadline - time.monotonic()))
            if event is None:
                break
            if event["kind"] == "key_down" and event["key"] in QUIT_KEYS:
                return tick
            if event["kind"] == "viewport":
                # The terminal was resized: lay everything out again.
                width = event["viewport"]["width"]
                host.patch(upsert=[title_segment(width), progress_segment(tick % 101 / 100, width)])
            if event["kind"] == "close":
                return tick
        if host.ended:
            return tick
        tick += 1
        # Only the two segments that change are sent; the title stays retained.
        host.patch(upsert=[clock_segment(time.time()), progress_segment(tick % 101 / 100, width)])
        if headless and tick == ticks:
            host.feed_input("q")


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--headless", action="store_true", help="keep the grid in memory and print the last frame")
    parser.add_argument("--ticks", type=int, default=20, help="headless: updates before quitting (default 20)")
    parser.add_argument("--interval", type=float, default=0.1, help="seconds between updates (default 0.1)")
    parser.add_argument("--host", help="the lumora-host binary (default: $LUMORA_HOST, PATH, the build tree)")
    options = parser.parse_args(argv)
    headless = options.headless or not sys.stdout.isatty()
    with lumora.launch(host_path=options.host) as host:
        if headless:
            info = host.open("terminal", headless=True, columns=48, rows=6)
        else:
            info = host.open("terminal", title="Lumora dashboard")
        ticks = run(host, info, options.interval, options.ticks, headless)
        if headless:
            print("\n".join(row.rstrip() for row in host.snapshot()["rows_text"]))
        stats = host.stats()
    print(f"{ticks} updates; last scene update {stats['last_update_seconds'] * 1000:.2f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
