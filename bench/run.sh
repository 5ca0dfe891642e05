#!/usr/bin/env bash
# Runs the benchmarks of a build and writes bench/RESULTS.md.
#   bench/run.sh BUILD_DIR [extra benchmark options...]
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

json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$binary" --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json "$@" >/dev/null

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
python3 - "$json" "$here/RESULTS.md" "$(nproc)" "${cpu:-unknown}" "$(date -u '+%Y-%m-%d %H:%M UTC')" <<'PY'
import json, sys

source, target, cores, cpu, date = sys.argv[1:6]
with open(source) as handle:
    report = json.load(handle)

standard = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
            "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit",
            "aggregate_name", "aggregate_unit", "error_occurred", "error_message", "label"}

def number(value):
    if isinstance(value, float):
        return f"{value:.3f}".rstrip("0").rstrip(".") if abs(value) < 1e6 else f"{value:.0f}"
    return str(value)

lines = ["# Benchmark results", "",
         f"- Machine: {cores} cores, {cpu}",
         f"- Date: {date}",
         f"- Library build type: {report.get('context', {}).get('library_build_type', 'unknown')}", ""]
for run in report.get("benchmarks", []):
    lines.append(f"## {run['name']}")
    lines.append("")
    if run.get("error_occurred"):
        lines += [f"Failed: {run.get('error_message', '')}", ""]
        continue
    if run.get("label"):
        lines += [f"Note: {run['label']}", ""]
    lines += ["| measure | value |", "| --- | --- |",
              f"| iterations | {run['iterations']} |",
              f"| real time | {number(run['real_time'])} {run['time_unit']} |",
              f"| CPU time | {number(run['cpu_time'])} {run['time_unit']} |"]
    for key, value in run.items():
        if key not in standard:
            lines.append(f"| {key} | {number(value)} |")
    lines.append("")
with open(target, "w") as handle:
    handle.write("\n".join(lines))
PY
echo "Wrote $here/RESULTS.md"
