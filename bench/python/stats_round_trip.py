#!/usr/bin/env python3
"""Round trip of {"op":"stats"} through the Python client, beside two
references measured in the same run:

- the floor: a minimal Python loop on the same socket to the same host, which
  writes the same frame with sendall and reads the reply's header and body
  with blocking recv_into, parsing nothing;
- the floor plus json.loads of each reply: what any client built on the
  standard library pays at least, since it must hand the result back parsed;
- the C++ client: BM_StatsRoundTrip of build/bench/lumora-bench (p50 of
  10,000 requests through client/controller.cpp, same host, same scene).

Like the C++ benchmark, the host first commits 120 scene updates so that the
reply carries a full ring of update latencies. Client and floor run in
alternating blocks, so that a change in the machine's load hits both alike.

    python3 bench/python/stats_round_trip.py BUILD_DIR [--results bench/RESULTS.md]

Targets: the client's p50 at most 1.5 x the floor's, and within 2 x the C++
client's.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "client" / "python"))

import lumora  # noqa: E402
from lumora._wire import FRAME_COMMAND, encode_header  # noqa: E402

REQUESTS = 10000
WARM_UP = 200
BLOCKS = 20
UPDATES_BEFORE_STATS = 120
STATS = {"op": "stats"}
STATS_BODY = b'{"op":"stats"}'
SECTION_TITLE = "## Python client: stats round trip"


def percentile(samples, fraction):
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def client_block(host, count, samples):
    clock = time.perf_counter
    stats = host.stats
    for _ in range(count):
        start = clock()
        stats()
        samples.append(clock() - start)


def floor_block(host, count, samples, parse=False):
    """The same frames written and read by hand on the client's socket; with
    `parse`, each reply body also goes through json.loads."""
    sock = host._socket
    wire = host._wire
    previous_timeout = sock.gettimeout()
    sock.settimeout(None)
    header = bytearray(16)
    body = bytearray(16 * 1024 * 1024 + 16)
    header_view = memoryview(header)
    body_view = memoryview(body)
    clock = time.perf_counter
    loads = json.loads
    try:
        for _ in range(count):
            frame_id = wire.next_id
            wire.next_id += 1
            start = clock()
            sock.sendall(encode_header(FRAME_COMMAND, frame_id, len(STATS_BODY)) + STATS_BODY)
            got = 0
            while got < 16:
                got += sock.recv_into(header_view[got:], 16 - got)
            length = struct.unpack_from("<I", header, 12)[0]
            got = 0
            while got < length:
                got += sock.recv_into(body_view[got:], length - got)
            if parse:
                loads(body_view[:length].tobytes())
            samples.append(clock() - start)
    finally:
        sock.settimeout(previous_timeout)


def cpp_client(build):
    binary = Path(build) / "bench" / "lumora-bench"
    if not binary.exists():
        return None
    with tempfile.NamedTemporaryFile(suffix=".json") as output:
        subprocess.run([str(binary), "--benchmark_filter=BM_StatsRoundTrip$|BM_StatsRoundTrip/",
                        f"--benchmark_out={output.name}", "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL)
        report = json.load(open(output.name))
    for run in report.get("benchmarks", []):
        if run["name"].startswith("BM_StatsRoundTrip") and not run.get("error_occurred"):
            return {"p50": run["p50_us"], "p99": run["p99_us"], "floor_p50": run["p50_us_floor"]}
    return None


def measure(build):
    host_path = Path(build) / "lumora-host"
    with lumora.launch(host_path=str(host_path)) as host:
        host.open("terminal", headless=True, columns=80, rows=24)
        for k in range(UPDATES_BEFORE_STATS):
            host.frame([["text", f"update {k}", 0, 0, "#ffffff", 14, False]])
        reply_bytes = len(json.dumps(host.stats(), separators=(",", ":")))
        client_block(host, WARM_UP, [])
        floor_block(host, WARM_UP, [])
        floor_block(host, WARM_UP, [], parse=True)
        client, floor, parsed = [], [], []
        for _ in range(BLOCKS):
            client_block(host, REQUESTS // BLOCKS, client)
            floor_block(host, REQUESTS // BLOCKS, floor)
            floor_block(host, REQUESTS // BLOCKS, parsed, parse=True)
    cpp = cpp_client(build)
    us = 1e6
    figures = {
        "python": {"p50": percentile(client, 0.5) * us, "p99": percentile(client, 0.99) * us},
        "floor": {"p50": percentile(floor, 0.5) * us, "p99": percentile(floor, 0.99) * us},
        "parsed": {"p50": percentile(parsed, 0.5) * us, "p99": percentile(parsed, 0.99) * us},
        "cpp": cpp,
        "reply_bytes": reply_bytes,
    }
    return figures


def section(figures, started, load):
    python, floor, parsed, cpp = figures["python"], figures["floor"], figures["parsed"], figures["cpp"]
    over_floor = python["p50"] / floor["p50"]
    rows = [
        "| Figure | Python client | Reference | Reference value | Ratio | Target |",
        "| --- | --- | --- | --- | --- | --- |",
        f"| p50_us | {python['p50']:.1f} µs | minimal Python loop on the same socket | {floor['p50']:.1f} µs | "
        f"{over_floor:.2f}× (time) | at most 1.5× |",
        f"| p99_us | {python['p99']:.1f} µs | minimal Python loop on the same socket | {floor['p99']:.1f} µs | "
        f"{python['p99'] / floor['p99']:.2f}× (time) | — |",
        f"| p50_us | {python['p50']:.1f} µs | the same loop plus json.loads of each reply | {parsed['p50']:.1f} µs | "
        f"{python['p50'] / parsed['p50']:.2f}× (time) | — |",
        f"| p99_us | {python['p99']:.1f} µs | the same loop plus json.loads of each reply | {parsed['p99']:.1f} µs | "
        f"{python['p99'] / parsed['p99']:.2f}× (time) | — |",
    ]
    if cpp:
        rows += [
            f"| p50_us | {python['p50']:.1f} µs | C++ client (BM_StatsRoundTrip) | {cpp['p50']:.1f} µs | "
            f"{python['p50'] / cpp['p50']:.2f}× (time) | within 2× |",
            f"| p99_us | {python['p99']:.1f} µs | C++ client (BM_StatsRoundTrip) | {cpp['p99']:.1f} µs | "
            f"{python['p99'] / cpp['p99']:.2f}× (time) | — |",
        ]
    else:
        rows.append("| p50_us | — | C++ client (BM_StatsRoundTrip) | not run: build lumora-bench | — | within 2× |")
    verdicts = [
        f"- Against the bare loop: {over_floor:.2f}× ({'meets' if over_floor <= 1.5 else 'misses'} the 1.5× target). "
        f"json.loads of the reply alone adds {parsed['p50'] - floor['p50']:.1f} µs to the loop; the client adds "
        f"{python['p50'] - parsed['p50']:.1f} µs beyond the loop and that parse (framing, id matching, its "
        "checks). The reply holds about 140 numbers printed with up to 17 significant digits, which the "
        "standard library's float reader converts slowly.",
    ]
    if cpp:
        over_cpp = python["p50"] / cpp["p50"]
        verdicts.append(f"- Against the C++ client: {over_cpp:.2f}× "
                        f"({'meets' if over_cpp <= 2 else 'misses'} the 2× target).")
    return "\n".join([
        SECTION_TITLE,
        "",
        f"Measured by `bench/python/stats_round_trip.py` on {started} (load average at the start: {load}), "
        f"Python {sys.version.split()[0]}: {REQUESTS:,} requests of {{\"op\":\"stats\"}} to a headless 80 x 24 "
        f"terminal after {UPDATES_BEFORE_STATS} scene updates (reply of {figures['reply_bytes']:,} bytes), "
        "wall-clock per request. The floor writes the same frame and reads the reply on the client's own "
        "socket without parsing it, and once more with json.loads of each reply, in blocks alternating "
        "with the client's; the C++ figure is "
        "BM_StatsRoundTrip run right after, against its own host.",
        "",
        *rows,
        "",
        *verdicts,
        "",
    ])


def write_section(path, text):
    """Replaces this benchmark's section of the results file, or appends it."""
    content = path.read_text() if path.exists() else ""
    pattern = re.compile(re.escape(SECTION_TITLE) + r"\n.*?(?=\n## |\Z)", re.S)
    if pattern.search(content):
        content = pattern.sub(lambda _: text.rstrip("\n"), content)
        if not content.endswith("\n"):
            content += "\n"
    else:
        content = content.rstrip("\n") + "\n\n" + text
    path.write_text(content)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Python client stats round trip against its references")
    parser.add_argument("build", help="the build folder holding lumora-host (and bench/lumora-bench)")
    parser.add_argument("--results", help="write the section into this results file (e.g. bench/RESULTS.md)")
    options = parser.parse_args(argv)
    started = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    load = " ".join(f"{value:.2f}" for value in os.getloadavg())
    figures = measure(options.build)
    text = section(figures, started, load)
    print(text)
    if options.results:
        write_section(Path(options.results), text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
