#!/usr/bin/env bash
# genpatch build and genpatch apply on real multi-file release pairs (npm packages of Windows
# programs, fetched by bench/fetch_pairs.sh into a cache outside the repository), against
# xdelta3 per file (package size and encode time) and a plain `cp -r` of the new tree (the I/O
# floor of an apply). Prints medians of REPETITIONS runs (default 3).
#   bench/update_bench.sh [REPETITIONS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
reps="${1:-3}"
cache="${GENPATCH_BENCH_CACHE:-$HOME/.cache/genpatch-bench}"
build="${GP_BENCH_BUILD_DIR:-$root/build/linux-release}"
[ -f "$cache/tarballs/electron-winstaller-5.4.4.tgz" ] || "$root/bench/fetch_pairs.sh" >/dev/null
(cd "$root" && cmake --preset linux-release >/dev/null)
cmake --build "$build" --target genpatch genpatch-stub -j2 >/dev/null
genpatch="$build/src/cli/genpatch"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export GENPATCH_TEMP_DIR="$work/tmp"
mkdir -p "$GENPATCH_TEMP_DIR"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ms() { echo $(( ($2 - $1) / 1000000 )); }

printf '%-34s %10s %10s %9s %9s %9s %9s %9s\n' pair package xdelta3 size/xd build_ms xd_ms apply_ms cp_ms
for pair in "esbuild_win32-x64-0.27.3 esbuild_win32-x64-0.27.4" \
            "rollup_rollup-win32-x64-msvc-4.40.0 rollup_rollup-win32-x64-msvc-4.41.0" \
            "lightningcss-win32-x64-msvc-1.32.0 lightningcss-win32-x64-msvc-1.33.0" \
            "electron-winstaller-5.4.0 electron-winstaller-5.4.4"; do
  set -- $pair
  [ -f "$cache/tarballs/$1.tgz" ] && [ -f "$cache/tarballs/$2.tgz" ] || continue
  rm -rf "$work/old" "$work/new" && mkdir -p "$work/old" "$work/new"
  tar -xzf "$cache/tarballs/$1.tgz" -C "$work/old" --strip-components=1
  tar -xzf "$cache/tarballs/$2.tgz" -C "$work/new" --strip-components=1

  build_times=(); xd_times=(); apply_times=(); cp_times=()
  for _ in $(seq "$reps"); do
    t0=$(now); "$genpatch" build -o "$work/p.dat" --data-file "$work/old" "$work/new" >/dev/null; t1=$(now)
    build_times+=("$(ms "$t0" "$t1")")
    xd_total=0
    t0=$(now)
    while IFS= read -r -d '' f; do
      rel="${f#$work/new/}"
      if [ -f "$work/old/$rel" ]; then
        xdelta3 -e -9 -S none -f -s "$work/old/$rel" "$f" "$work/d.xd"
        xd_total=$((xd_total + $(stat -c %s "$work/d.xd")))
      else
        xd_total=$((xd_total + $(stat -c %s "$f")))
      fi
    done < <(find "$work/new" -type f -print0)
    t1=$(now); xd_times+=("$(ms "$t0" "$t1")")
    rm -rf "$work/inst" && cp -r "$work/old" "$work/inst"
    t0=$(now); "$genpatch" apply "$work/p.dat" --dest "$work/inst" 2>/dev/null; t1=$(now)
    apply_times+=("$(ms "$t0" "$t1")")
    diff -r "$work/inst" "$work/new" >/dev/null || { echo "apply result differs for $2" >&2; exit 1; }
    rm -rf "$work/copy"; t0=$(now); cp -r "$work/new" "$work/copy"; t1=$(now)
    cp_times+=("$(ms "$t0" "$t1")")
  done
  size=$(stat -c %s "$work/p.dat")
  printf '%-34s %10d %10d %9.3f %9s %9s %9s %9s\n' "$2" "$size" "$xd_total" \
    "$(echo "$size / $xd_total" | bc -l)" \
    "$(printf '%s\n' "${build_times[@]}" | median)" "$(printf '%s\n' "${xd_times[@]}" | median)" \
    "$(printf '%s\n' "${apply_times[@]}" | median)" "$(printf '%s\n' "${cp_times[@]}" | median)"
done
