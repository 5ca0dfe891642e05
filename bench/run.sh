#!/usr/bin/env bash
# Runs every benchmark of a build and writes bench/RESULTS.md: the machine,
# the date, and one table row per figure with its reference beside it.
#   bench/run.sh BUILD_DIR [extra benchmark options...]
# Extra options go to lumora-bench after the defaults, so they win
# (e.g. --benchmark_filter=EndToEnd or --benchmark_min_time=0.5).
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [benchmark options...]" >&2
  exit 2
fi
build=$1
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
binary=$build/bench/lumora-bench
if [ ! -x "$binary" ]; then
  echo "$binary not found: configure with -DLUMORA_BENCH=ON and build lumora-bench" >&2
  exit 2
fi

# Short runs keep the whole binary under about three minutes; the round-trip
# benchmarks fix their own request counts.
min_time=0.1
for option in "$@"; do
  case $option in --benchmark_min_time=*) min_time=${option#*=} ;; esac
done
json=$(mktemp)
trap 'rm -f "$json"' EXIT
load=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M UTC')
"$binary" --benchmark_min_time=$min_time --benchmark_out="$json" --benchmark_out_format=json "$@"

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
python3 - "$json" "$here/RESULTS.md" "$(nproc)" "${cpu:-unknown}" "$started" "$load" "$min_time" "$here/callgrind.md" <<'PY'
import json, math, os, re, sys

source, target, cores, cpu, date, load, min_time, counts = sys.argv[1:9]
with open(source) as handle:
    report = json.load(handle)
runs = [run for run in report.get("benchmarks", []) if run.get("run_type", "iteration") == "iteration"]
by_name = {run["name"]: run for run in runs}

# Figures measured against another benchmark of the same binary: a name
# pattern, then the reference benchmarks with what they stand for. A new
# family adds one line here.
REFERENCES = [
    (r"^BM_Terminal(Compose|Encode)", [("BM_TerminalMemcpyFullEncodingBytes", "memcpy of the same bytes")]),
    (r"^BM_TerminalDashboardClock", [("BM_TerminalDashboardIdenticalRecommit", "identical re-commit, no composition")]),
    (r"^BM_Grapheme", [("BM_Utf8Decode", "raw UTF-8 decode"), ("BM_Utf8procGraphemes", "libutf8proc graphemes")]),
    (r"^BM_Decode", [("BM_Utf8Decode", "raw UTF-8 decode")]),
    (r"^BM_WindowMotionSpriteFrame", [("BM_WindowMotionFullRedraw", "full redraw of the same scene")]),
    (r"^BM_Window(PresentFromSceneCache|SegmentsUnchangedPresent)$",
     [("BM_WindowFullWindowCopyFloor", "one full-window SDL_RenderCopy + present")]),
    # The window beside independent programs drawing the same dashboard.
    (r"^BM_Dashboard(Lumora\w+|SegmentsLumoraEveryPanel)(/|$)",
     [("BM_DashboardHandwrittenSdl", "hand-written SDL2 program, same dashboard"),
      ("BM_DashboardImGui", "Dear ImGui on SDL_Renderer, same dashboard")]),
    (r"^BM_DashboardTallLumora",
     [("BM_DashboardTallHandwrittenSdl", "hand-written SDL2 program, same dashboard"),
      ("BM_DashboardTallImGui", "Dear ImGui on SDL_Renderer, same dashboard")]),
    (r"^BM_DashboardSegmentsLumoraClock(/|$)",
     [("BM_DashboardHandwrittenSdlClock", "hand-written SDL2 program, whole frame with the new clock")]),
    (r"^BM_DashboardImGui$", [("BM_DashboardHandwrittenSdl", "hand-written SDL2 program, same dashboard")]),
    (r"^BM_DashboardTallImGui$", [("BM_DashboardTallHandwrittenSdl", "hand-written SDL2 program, same dashboard")]),
    (r"^BM_WindowStyledFromSceneCache$", [("BM_WindowStyledDrawnInFull", "the same scene drawn in full"),
                                          ("BM_WindowFullWindowCopyFloor", "one full-window SDL_RenderCopy + present")]),
]
REFERENCE_NAMES = {name for _, refs in REFERENCES for name, _ in refs}
# Counters measured against a companion counter of the same run: the
# companion's suffix and what it stands for.
COMPANIONS = {
    "_cjson_built": "the same object built item by item and printed by cJSON",
    "_floor": "loopback ping-pong, same frame sizes",
    "_cjson": "cJSON_PrintUnformatted of the same reply alone",
    "_sleeping": "a thread sleeping 10 ms at a time over the same span",
    "_bare_peer": "a bare peer answering the same frames (its reads, writes and waits alone)",
}
# Counters that carry a byte count to compare against memcpy of those bytes.
BYTE_COUNTERS = ("ansi_bytes", "diff_bytes", "bytes")
STANDARD = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
            "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit",
            "aggregate_name", "aggregate_unit", "error_occurred", "error_message", "label"}
UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def fmt(value):
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return "—"
    if abs(value) >= 1000:
        return f"{value:,.0f}"
    return f"{value:.3g}"


def rate(value):
    return f"{value / 1e6:,.1f} MB/s"


def ratio(value, reference, higher_is_better):
    if not reference:
        return "—"
    factor = value / reference
    return f"{fmt(factor)}× ({'rate' if higher_is_better else 'time'})"


def counter_text(name, value):
    if name.endswith("_us") or "_us_" in name:
        return f"{fmt(value)} µs"
    if name.endswith("_per_second"):
        return f"{fmt(value)} /s"
    return fmt(value)


# A counter that stands for the benchmark's time when present: processor
# time per frame of whichever process drew it (the host's, for figures that
# drive the real host).
FRAME_CPU = "frame_cpu_ms"


def processor_seconds(run):
    if FRAME_CPU in run:
        return run[FRAME_CPU] * 1e-3
    return run["cpu_time"] * UNIT_SECONDS[run["time_unit"]]


def main_figure(run):
    """(figure, value text, number, seconds or None, bytes per second or None)"""
    unit = run["time_unit"]
    if FRAME_CPU in run:
        value = run[FRAME_CPU]
        return "processor time per frame (ms)", fmt(value), value, value * 1e-3, None
    if "bytes_per_second" in run:
        value = run["bytes_per_second"]
        return "throughput", rate(value), value, None, value
    seconds = run["cpu_time"] * UNIT_SECONDS[unit]
    shown = {"us": "µs"}.get(unit, unit)
    return f"time ({shown}, processor)", fmt(run["cpu_time"]), run["cpu_time"], seconds, None


def reference_cells(run, figure):
    _, _, _, seconds, throughput = figure
    for pattern, refs in REFERENCES:
        if not re.search(pattern, run["name"]):
            continue
        names, values, ratios = [], [], []
        for ref_name, description in refs:
            ref = by_name.get(ref_name)
            if ref is None or ref.get("error_occurred"):
                names.append(description)
                values.append("not run")
                ratios.append("—")
                continue
            ref_rate = ref.get("bytes_per_second")
            ref_seconds = processor_seconds(ref)
            names.append(description)
            if throughput is not None and ref_rate:
                values.append(rate(ref_rate))
                ratios.append(ratio(throughput, ref_rate, True))
                continue
            counted = next((run[key] for key in BYTE_COUNTERS if key in run), None)
            if counted is not None and ref_rate:
                # memcpy of this run's bytes at the reference's measured rate
                ref_seconds = counted / ref_rate
            unit = run["time_unit"]
            shown = {"us": "µs"}.get(unit, unit)
            values.append(f"{fmt(ref_seconds / UNIT_SECONDS[unit])} {shown}")
            ratios.append(ratio(seconds, ref_seconds, False) if seconds is not None else "—")
        return "; ".join(names), "; ".join(values), "; ".join(ratios)
    if run["name"] in REFERENCE_NAMES:
        return "(is a reference)", "", ""
    return "—", "", ""


rows = []
for run in runs:
    name = run["name"]
    if run.get("error_occurred"):
        rows.append([name, "failed", "—", run.get("error_message", ""), "", "", ""])
        continue
    counters = {key: value for key, value in run.items() if key not in STANDARD and isinstance(value, (int, float))}
    companions = {key for key in counters for suffix in COMPANIONS if key.endswith(suffix) and key[: -len(suffix)] in counters}
    paired = {key[: -len(suffix)]: (key, COMPANIONS[suffix]) for key in companions for suffix in COMPANIONS if key.endswith(suffix)}
    rates = [key for key in sorted(counters) if key.endswith("_per_second") and key != "bytes_per_second" and key not in paired]
    notes = [f"{key}={fmt(value)}" for key, value in counters.items()
             if key not in companions and key not in paired and key not in rates
             and key not in ("bytes_per_second", FRAME_CPU)]
    if run.get("label"):
        notes.insert(0, run["label"])
    note_text = "; ".join(notes).replace("|", "\\|")
    if not paired:
        figure = main_figure(run)
        reference, reference_value, factor = reference_cells(run, figure)
        rows.append([name, figure[0], figure[1], reference, reference_value, factor, note_text])
        note_text = ""
    for key, (companion, description) in sorted(paired.items()):
        value = counters[key]
        rows.append([name, key, counter_text(key, value), description, counter_text(companion, counters[companion]),
                     ratio(value, counters[companion], False), note_text])
        note_text = ""
    for key in rates:
        rows.append([name, key, counter_text(key, counters[key]), "—", "", "", note_text])
        note_text = ""

context = report.get("context", {})
lines = ["# Benchmark results", "",
         f"- Machine: {cores} cores, {cpu}",
         f"- Date: {date}",
         f"- Load average at the start: {load} (a shared machine makes every figure noisier)",
         f"- Google Benchmark library build: {context.get('library_build_type', 'unknown')}; "
         f"--benchmark_min_time={min_time}",
         "- Times are processor time per iteration; rates derive from them. Round-trip figures (µs) are "
         "wall-clock latencies through the controller, beside a bare loopback ping-pong with the same frame "
         "sizes measured in the same run. A ratio is figure / reference, of time (lower is better) or of "
         "rate (higher is better).", "",
         "| Benchmark | Figure | Value | Reference | Reference value | Ratio | Notes |",
         "| --- | --- | --- | --- | --- | --- | --- |"]
lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
# Instruction counts are taken by hand under callgrind (too slow for every
# run); they are kept in their own file and carried into the results.
if os.path.exists(counts):
    with open(counts) as handle:
        lines += ["", handle.read().rstrip("\n")]
with open(target, "w") as handle:
    handle.write("\n".join(lines) + "\n")
PY
# The Python client's round trip has its own script and references; it adds
# its section to the results (not when only some benchmarks were asked for).
if ! printf '%s\n' "$@" | grep -q -- '--benchmark_filter='; then
  python3 "$here/python/stats_round_trip.py" "$build" --results "$here/RESULTS.md" >/dev/null ||
    echo "The Python client's round trip could not be measured" >&2
fi
echo "Wrote $here/RESULTS.md"
