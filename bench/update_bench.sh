#!/usr/bin/env bash
# genpatch build and genpatch apply on real multi-file release pairs (npm packages of Windows
# programs, fetched by bench/fetch_pairs.sh into a cache outside the repository), against
# xdelta3 per file (package size and encode time) and a plain `cp -r` of the new tree (the I/O
# floor of an apply). Prints medians of REPETITIONS runs (default 3).
#   bench/update_bench.sh [REPETITIONS]
#
# Apply time of two builds of genpatch, before and after a change:
#   OLD_GENPATCH=path/to/genpatch NEW_GENPATCH=path/to/genpatch bench/update_bench.sh [REPETITIONS]
# runs both on the same packages: a generated release tree (50 files, 30 MB, five changed, one
# added, one removed; always there), the same tree as three releases (a package with two lists,
# whose files changed by one list are carried unchanged by the other), and the fetched pairs
# that are in the cache. The last column times the old program followed by `sync -f` of the
# destination's volume: until then its result is not on the disk, as the new program's is
# when it ends (it also flushes whatever else that volume holds, so it is an upper bound). Each apply
# starts from a fresh copy of the old tree; the two builds take turns.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
reps="${1:-3}"
cache="${GENPATCH_BENCH_CACHE:-$HOME/.cache/genpatch-bench}"
build="${GP_BENCH_BUILD_DIR:-$root/build/linux-release}"
compare=0
if [ -n "${OLD_GENPATCH:-}" ] || [ -n "${NEW_GENPATCH:-}" ]; then
  [ -x "${OLD_GENPATCH:-}" ] && [ -x "${NEW_GENPATCH:-}" ] ||
    { echo "set both OLD_GENPATCH and NEW_GENPATCH to genpatch programs" >&2; exit 2; }
  compare=1
  genpatch="$NEW_GENPATCH"
else
  [ -f "$cache/tarballs/electron-winstaller-5.4.4.tgz" ] || "$root/bench/fetch_pairs.sh" >/dev/null
  (cd "$root" && cmake --preset linux-release >/dev/null)
  cmake --build "$build" --target genpatch genpatch-stub -j2 >/dev/null
  genpatch="$build/src/cli/genpatch"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export GENPATCH_TEMP_DIR="$work/tmp"
mkdir -p "$GENPATCH_TEMP_DIR"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ms() { echo $(( ($2 - $1) / 1000000 )); }

# A release tree of realistic size: 50 files in nested folders, 30 MB in all (a few large
# programs, many small files), in three releases: "mid" changes the two largest but one of
# "old" (a few bytes in the middle of each), "new" changes three more, adds one and removes one. Every file's
# bytes come from its own seed, so a file that no release changes is the same in all three.
generate_tree() {  # folder
  python3 - "$1" <<'PY'
import os, random, sys
top = sys.argv[1]
rng = random.Random(14)
sizes = [8 << 20, 6 << 20, 4 << 20, 3 << 20, 2 << 20] + [rng.randrange(20000, 500000) for _ in range(45)]
scale = (30 << 20) / sum(sizes)
changed = {"mid": (0, 3), "new": (0, 3, 10, 20, 30)}  # new keeps mid's changes
for side in ("old", "mid", "new"):
    for i, size in enumerate(sizes):
        size = int(size * scale)
        name = os.path.join(top, side, "part%d" % (i % 4), "sub%d" % (i % 3), "file%02d.bin" % i)
        if side == "new" and i == 7:
            continue  # removed in the newest release
        data = bytearray(random.Random(1000 + i).randbytes(size))
        if i in changed.get(side, ()):
            data[size // 2:size // 2 + 16] = b"changed release!"
        os.makedirs(os.path.dirname(name), exist_ok=True)
        open(name, "wb").write(data)
    if side == "new":
        os.makedirs(os.path.join(top, side, "added"), exist_ok=True)
        open(os.path.join(top, side, "added", "new.dll"), "wb").write(bytes(range(256)) * 1000)
PY
}

# Apply time of OLD_GENPATCH and NEW_GENPATCH on one package made from the release folders,
# applied to a copy of the first; the result must be the last.
compare_apply() {  # label first [middle] last
  local label="$1"
  shift
  local releases=("$@")
  set -- "$label" "${releases[0]}" "${releases[-1]}"
  "$genpatch" build --force -o "$work/p.dat" --data-file "${releases[@]}" >/dev/null
  local old_times=() new_times=() synced_times=() which t0 t1 t2
  for _ in $(seq "$reps"); do
    for which in old new; do
      rm -rf "$work/inst" && cp -r "$2" "$work/inst" && sync
      local program="$OLD_GENPATCH"
      [ "$which" = new ] && program="$NEW_GENPATCH"
      t0=$(now); "$program" apply "$work/p.dat" --dest "$work/inst" 2>/dev/null; t1=$(now)
      # The old program's result is on the disk only after a flush of the volume.
      [ "$which" = old ] && sync -f "$work/inst"
      t2=$(now)
      diff -r "$work/inst" "$3" >/dev/null || { echo "$which: apply result differs for $1" >&2; exit 1; }
      if [ "$which" = old ]; then
        old_times+=("$(ms "$t0" "$t1")")
        synced_times+=("$(ms "$t0" "$t2")")
      else
        new_times+=("$(ms "$t0" "$t1")")
      fi
    done
  done
  local old_ms new_ms synced_ms
  old_ms=$(printf '%s\n' "${old_times[@]}" | median)
  synced_ms=$(printf '%s\n' "${synced_times[@]}" | median)
  new_ms=$(printf '%s\n' "${new_times[@]}" | median)
  printf '%-44s %10s %10s %8.3f %14s\n' "$1" "$old_ms" "$new_ms" \
    "$(echo "$new_ms / ($old_ms + 0.001)" | bc -l)" "$synced_ms"
}

# The cached release pairs (tarball names without .tgz): old new.
pairs=("esbuild_win32-x64-0.27.3 esbuild_win32-x64-0.27.4"
       "rollup_rollup-win32-x64-msvc-4.40.0 rollup_rollup-win32-x64-msvc-4.41.0"
       "lightningcss-win32-x64-msvc-1.32.0 lightningcss-win32-x64-msvc-1.33.0"
       "electron-winstaller-5.4.0 electron-winstaller-5.4.4")

# Unpacks a cached pair into $work/old and $work/new; false when it is not in the cache.
unpack_pair() {  # old new
  [ -f "$cache/tarballs/$1.tgz" ] && [ -f "$cache/tarballs/$2.tgz" ] || return 1
  rm -rf "$work/old" "$work/new" && mkdir -p "$work/old" "$work/new"
  tar -xzf "$cache/tarballs/$1.tgz" -C "$work/old" --strip-components=1
  tar -xzf "$cache/tarballs/$2.tgz" -C "$work/new" --strip-components=1
}

if [ "$compare" = 1 ]; then
  printf '%-44s %10s %10s %8s %14s\n' tree old_apply_ms new_apply_ms new/old old+sync_ms
  generate_tree "$work/gen"
  compare_apply "generated: 50 files, 30 MB, 7 changed" "$work/gen/old" "$work/gen/new"
  compare_apply "generated, 3 releases: 2 passes" "$work/gen/old" "$work/gen/mid" "$work/gen/new"
  for pair in "${pairs[@]}"; do
    set -- $pair
    unpack_pair "$1" "$2" || continue
    compare_apply "$2" "$work/old" "$work/new"
  done
  exit 0
fi

printf '%-34s %10s %10s %9s %9s %9s %9s %9s %11s\n' pair package xdelta3 size/xd build_ms xd_ms apply_ms cp_ms cp+sync_ms
for pair in "${pairs[@]}"; do
  set -- $pair
  unpack_pair "$1" "$2" || continue

  build_times=(); xd_times=(); apply_times=(); cp_times=(); cp_sync_times=()
  for _ in $(seq "$reps"); do
    t0=$(now); "$genpatch" build --force -o "$work/p.dat" --data-file "$work/old" "$work/new" >/dev/null; t1=$(now)
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
    # The apply flushes what it wrote before its commit: the sync keeps the other writes of
    # this loop (the package, the xdelta3 deltas, the copy) out of its time.
    rm -rf "$work/inst" && cp -r "$work/old" "$work/inst" && sync
    t0=$(now); "$genpatch" apply "$work/p.dat" --dest "$work/inst" 2>/dev/null; t1=$(now)
    apply_times+=("$(ms "$t0" "$t1")")
    diff -r "$work/inst" "$work/new" >/dev/null || { echo "apply result differs for $2" >&2; exit 1; }
    rm -rf "$work/copy" && sync
    t0=$(now); cp -r "$work/new" "$work/copy"; t1=$(now); sync -f "$work/copy"; t2=$(now)
    cp_times+=("$(ms "$t0" "$t1")")
    cp_sync_times+=("$(ms "$t0" "$t2")")
  done
  size=$(stat -c %s "$work/p.dat")
  printf '%-34s %10d %10d %9.3f %9s %9s %9s %9s %11s\n' "$2" "$size" "$xd_total" \
    "$(echo "$size / $xd_total" | bc -l)" \
    "$(printf '%s\n' "${build_times[@]}" | median)" "$(printf '%s\n' "${xd_times[@]}" | median)" \
    "$(printf '%s\n' "${apply_times[@]}" | median)" "$(printf '%s\n' "${cp_times[@]}" | median)" \
    "$(printf '%s\n' "${cp_sync_times[@]}" | median)"
done
