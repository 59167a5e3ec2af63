#!/usr/bin/env bash
# Fetches pairs of consecutive releases of Windows programs that are published as npm packages
# and unpacks the one binary of each into a cache outside the repository, for diff_bench.
#
#   bench/fetch_pairs.sh [CACHE_DIR]      (default: ${GENPATCH_BENCH_CACHE:-~/.cache/genpatch-bench})
#
# Result: CACHE_DIR/pairs/<name>/old and CACHE_DIR/pairs/<name>/new. Already fetched pairs are
# kept. The binaries are never placed in the repository.
set -euo pipefail

cache=${1:-${GENPATCH_BENCH_CACHE:-$HOME/.cache/genpatch-bench}}
mkdir -p "$cache/tarballs" "$cache/pairs"

# name | npm package | old version | new version | file inside the package
pairs=(
  "esbuild-0.27.3|@esbuild/win32-x64|0.27.3|0.27.4|package/esbuild.exe"
  "esbuild-0.28.1|@esbuild/win32-x64|0.28.1|0.28.2|package/esbuild.exe"
  "rollup-4.40.0|@rollup/rollup-win32-x64-msvc|4.40.0|4.41.0|package/rollup.win32-x64-msvc.node"
  "rollup-4.69.2|@rollup/rollup-win32-x64-msvc|4.69.2|4.69.3|package/rollup.win32-x64-msvc.node"
  "lightningcss-1.32|lightningcss-win32-x64-msvc|1.32.0|1.33.0|package/lightningcss.win32-x64-msvc.node"
  "biome-2.6.8|@biomejs/cli-win32-x64|2.6.8|2.6.9|package/biome.exe"
  "swc-1.16.20|@swc/core-win32-x64-msvc|1.16.20|1.16.22|package/swc.win32-x64-msvc.node"
)

# Whole packages for bench/update_bench.sh (release trees of many files): package | old | new
trees=(
  "electron-winstaller|5.4.0|5.4.4"
)

fetch() {  # package version -> path of the tarball in the cache
  local pkg=$1 ver=$2
  local tag=${pkg//\//_}
  local tgz="$cache/tarballs/${tag#@}-$ver.tgz"
  if [ ! -s "$tgz" ]; then
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && npm pack --silent "$pkg@$ver" >/dev/null)
    mv "$tmp"/*.tgz "$tgz"
    rmdir "$tmp"
  fi
  echo "$tgz"
}

for entry in "${pairs[@]}"; do
  IFS='|' read -r name pkg oldv newv member <<<"$entry"
  dir="$cache/pairs/$name"
  if [ -s "$dir/old" ] && [ -s "$dir/new" ]; then
    continue
  fi
  mkdir -p "$dir"
  for side in old new; do
    ver=$oldv
    [ "$side" = new ] && ver=$newv
    tgz=$(fetch "$pkg" "$ver")
    tar -xzf "$tgz" -O "$member" >"$dir/$side.part"
    mv "$dir/$side.part" "$dir/$side"
  done
  echo "fetch_pairs: $name ($pkg $oldv -> $newv)"
done
for entry in "${trees[@]}"; do
  IFS='|' read -r pkg oldv newv <<<"$entry"
  fetch "$pkg" "$oldv" >/dev/null
  fetch "$pkg" "$newv" >/dev/null
done
ls -l "$cache"/pairs/*/ | sed -n '1,200p' >&2
echo "$cache/pairs"
