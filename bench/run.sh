#!/usr/bin/env bash
# Builds the benchmarks of the linux-release preset and runs every one of them, printing one
# table per program (median of the repetitions). Usage:
#   bench/run.sh [FILTER] [REPETITIONS]
# FILTER is a regular expression over benchmark names (default: all). Every program named
# build/linux-release/bench/*_bench is run, so a new bench/<name>_bench.cpp needs no edit here.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
filter="${1:-.}"
repetitions="${2:-5}"
# GP_BENCH_BUILD_DIR: an own build folder with the same settings instead of the preset's.
build="${GP_BENCH_BUILD_DIR:-$root/build/linux-release}"

if [ -n "${GP_BENCH_BUILD_DIR:-}" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGP_BUILD_BENCH=ON >/dev/null
else
  (cd "$root" && cmake --preset linux-release >/dev/null)
fi
mapfile -t sources < <(ls "$root"/bench/*_bench.cpp)
targets=()
for src in "${sources[@]}"; do targets+=("$(basename "$src" .cpp)"); done
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null

# Release pairs of real programs for diff_bench, fetched once into a cache outside the repository.
if [[ " ${targets[*]} " == *" diff_bench "* ]]; then
  "$root/bench/fetch_pairs.sh" >/dev/null 2>&1 || echo "diff_bench: release pairs not fetched" >&2
fi

results="$build/bench-results"
mkdir -p "$results"
for target in "${targets[@]}"; do
  exe="$build/bench/$target"
  [ -x "$exe" ] || { echo "missing $exe" >&2; continue; }
  json="$results/$target.json"
  "$exe" --benchmark_filter="$filter" --benchmark_repetitions="$repetitions" \
         --benchmark_report_aggregates_only=true --benchmark_format=json >"$json"
  echo
  echo "== $target (median of $repetitions)"
  python3 - "$json" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
rows = [b for b in data["benchmarks"] if b.get("aggregate_name") == "median"]
def fmt_rate(b):
    r = b.get("bytes_per_second")
    return f"{r / 1e6:10.1f} MB/s" if r else " " * 15
extra_keys = sorted({k for b in rows for k in ("ratio", "out_bytes") if k in b})
head = f"{'benchmark':48} {'label':28} {'time':>12} {'throughput':>15}"
head += "".join(f" {k:>12}" for k in extra_keys)
print(head)
for b in rows:
    name = b["run_name"]
    t = f"{b['real_time']:.3f} {b['time_unit']}"
    line = f"{name:48} {b.get('label', ''):28} {t:>12} {fmt_rate(b)}"
    for k in extra_keys:
        v = b.get(k)
        line += f" {v:12.4f}" if isinstance(v, float) and v < 10 else (f" {v:12.0f}" if v else " " * 13)
    print(line)
PY
done

# Diff encoder against xdelta3 and bsdiff: sizes and times per release pair, medians over pairs.
if [ -s "$results/diff_bench.json" ]; then
  echo
  echo "== diff sizes (LZW as stored in the package) and encode times"
  python3 - "$results/diff_bench.json" <<'PY'
import json, statistics, sys
rows = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name", "median") != "median" or b.get("error_occurred"):
        continue
    tool, pair = b["run_name"].split("/")[:2]
    rows.setdefault(pair, {})[tool] = b
print(f"{'pair':20} {'new':>11} {'lzw diff':>11} {'xdelta3':>11} {'bsdiff':>11} "
      f"{'lzw/xd':>7} {'ours ms':>9} {'xd ms':>9} {'xd/ours':>8}")
size_ratios, speed_ratios = [], []
for pair, r in sorted(rows.items()):
    ours, xd, bs = r.get("DiffEncode"), r.get("Xdelta3"), r.get("Bsdiff")
    if not ours or not xd:
        continue
    lzw, xds = ours["lzw_bytes"], xd["delta_bytes"]
    size_ratio = lzw / xds if xds else float("nan")
    speed_ratio = xd["real_time"] / ours["real_time"]
    size_ratios.append(size_ratio); speed_ratios.append(speed_ratio)
    bss = f"{bs['delta_bytes']:11.0f}" if bs else f"{'-':>11}"
    print(f"{pair:20} {ours['new_bytes']:11.0f} {lzw:11.0f} {xds:11.0f} {bss} "
          f"{size_ratio:7.3f} {ours['real_time']:9.0f} {xd['real_time']:9.0f} {speed_ratio:8.2f}")
if size_ratios:
    print(f"median lzw/xdelta3 size {statistics.median(size_ratios):.3f}, "
          f"median xdelta3/ours time {statistics.median(speed_ratios):.2f}")
PY
fi
