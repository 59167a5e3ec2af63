#!/usr/bin/env bash
# The compact package format against the tools a publisher would otherwise pick, on the release
# pairs of bench/fetch_pairs.sh (one program file each) and its release tree
# (electron-winstaller, many files; the tools see it as one tar of each release).
#   bench/compact_bench.sh [MAX_MIB]
#   COMPACT_FLAGS=--smallest bench/compact_bench.sh [MAX_MIB]   (the compact package with coded
#                                                               diffs instead)
# Pairs whose new file is larger than MAX_MIB (default 64) are skipped: bsdiff needs about 17
# bytes of memory per old byte. Every tool runs in the same run, one at a time:
#   size:  genpatch build --data-file --format compact / classic, xdelta3 -e -9 -S none,
#          xdelta3 -e -9, bsdiff, zstd -19 --long=27 --patch-from
#   build: wall time and peak memory of genpatch (compact), bsdiff and zstd (/usr/bin/time)
#   apply: wall time and peak memory of genpatch apply (compact, classic) and xdelta3 -d
# Sizes are package data files (no program image), so they compare the package data alone.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
max_mib="${1:-64}"
cache="${GENPATCH_BENCH_CACHE:-$HOME/.cache/genpatch-bench}"
build="${GP_BENCH_BUILD_DIR:-$root/build/linux-release}"
for tool in xdelta3 bsdiff zstd; do
  command -v "$tool" >/dev/null || { echo "compact_bench: needs $tool (apt-get install -y xdelta3 bsdiff zstd)" >&2; exit 2; }
done
[ -d "$cache/pairs" ] || "$root/bench/fetch_pairs.sh" >/dev/null
if [ -z "${GENPATCH:-}" ]; then
  (cd "$root" && cmake --preset linux-release >/dev/null)
  cmake --build "$build" --target genpatch -j2 >/dev/null
fi
genpatch="${GENPATCH:-$build/src/cli/genpatch}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export GENPATCH_TEMP_DIR="$work/tmp"
mkdir -p "$GENPATCH_TEMP_DIR"

# Runs a command under /usr/bin/time; sets secs and kib.
timed() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
  read -r secs kib <"$work/time"
}
size() { stat -c %s "$1"; }

printf '%-20s %10s %10s %10s %10s %10s %10s %7s %7s | %14s %14s %14s | %14s %14s %14s\n' \
  pair compact classic xd_none xd_9 bsdiff zstd c/xd c/min \
  "build s/MiB" "bsdiff s/MiB" "zstd s/MiB" "apply s/MiB" "classic s/MiB" "xd -d s/MiB"

# One pair: old and new are folders (the package) and files (the tools).
measure() {  # label old_dir new_dir old_file new_file
  local label=$1 od=$2 nd=$3 of=$4 nf=$5
  rm -f "$work/c.dat" "$work/k.dat"  # genpatch build does not replace a file
  timed "$genpatch" build --data-file --format compact ${COMPACT_FLAGS:-} -o "$work/c.dat" "$od" "$nd"
  local b_s=$secs b_k=$kib
  "$genpatch" build --data-file --format classic -o "$work/k.dat" "$od" "$nd" >/dev/null
  xdelta3 -e -9 -S none -f -s "$of" "$nf" "$work/x0"
  xdelta3 -e -9 -f -s "$of" "$nf" "$work/x9"
  timed bsdiff "$of" "$nf" "$work/bs"; local bs_s=$secs bs_k=$kib
  timed zstd -q -f -19 --long=27 --patch-from="$of" "$nf" -o "$work/zs"; local zs_s=$secs zs_k=$kib
  # Each apply starts with nothing else waiting to be written: the update run flushes the volume
  # before its commit and would otherwise wait for the tools' outputs too.
  rm -rf "$work/inst" && cp -r "$od" "$work/inst" && sync
  timed "$genpatch" apply "$work/c.dat" --dest "$work/inst"; local a_s=$secs a_k=$kib
  diff -r "$work/inst" "$nd" >/dev/null || { echo "compact apply differs for $label" >&2; exit 1; }
  rm -rf "$work/inst" && cp -r "$od" "$work/inst" && sync
  timed "$genpatch" apply "$work/k.dat" --dest "$work/inst"; local k_s=$secs k_k=$kib
  sync
  timed xdelta3 -d -f -s "$of" "$work/x0" "$work/xout"; local x_s=$secs x_k=$kib
  local c k x0 x9 bs zs
  c=$(size "$work/c.dat"); k=$(size "$work/k.dat"); x0=$(size "$work/x0"); x9=$(size "$work/x9")
  bs=$(size "$work/bs"); zs=$(size "$work/zs")
  local best=$(( bs < zs ? bs : zs ))
  mib() { echo $(( $1 / 1024 )); }
  printf '%-20s %10d %10d %10d %10d %10d %10d %7.3f %7.3f | %6s %7s %6s %7s %6s %7s | %6s %7s %6s %7s %6s %7s\n' \
    "$label" "$c" "$k" "$x0" "$x9" "$bs" "$zs" "$(echo "$c / $x0" | bc -l)" "$(echo "$c / $best" | bc -l)" \
    "$b_s" "$(mib "$b_k")" "$bs_s" "$(mib "$bs_k")" "$zs_s" "$(mib "$zs_k")" \
    "$a_s" "$(mib "$a_k")" "$k_s" "$(mib "$k_k")" "$x_s" "$(mib "$x_k")"
}

for dir in "$cache"/pairs/*/; do
  name=$(basename "$dir")
  [ -s "$dir/old" ] && [ -s "$dir/new" ] || continue
  if [ "$(size "$dir/new")" -gt $((max_mib << 20)) ]; then
    echo "$name: skipped (larger than $max_mib MiB)"
    continue
  fi
  rm -rf "$work/o" "$work/n" && mkdir -p "$work/o" "$work/n"
  cp "$dir/old" "$work/o/program.bin" && cp "$dir/new" "$work/n/program.bin"
  measure "$name" "$work/o" "$work/n" "$dir/old" "$dir/new"
done

# The release tree: folders for genpatch, one tar of each release for the tools.
if [ -f "$cache/tarballs/electron-winstaller-5.4.0.tgz" ] && [ -f "$cache/tarballs/electron-winstaller-5.4.4.tgz" ]; then
  rm -rf "$work/o" "$work/n" && mkdir -p "$work/o" "$work/n"
  tar -xzf "$cache/tarballs/electron-winstaller-5.4.0.tgz" -C "$work/o" --strip-components=1
  tar -xzf "$cache/tarballs/electron-winstaller-5.4.4.tgz" -C "$work/n" --strip-components=1
  tar -C "$work/o" --sort=name -cf "$work/o.tar" . && tar -C "$work/n" --sort=name -cf "$work/n.tar" .
  measure "electron-winstaller" "$work/o" "$work/n" "$work/o.tar" "$work/n.tar"
fi
