#!/usr/bin/env bash
# The main job on the bundled example: builds genpatch and the Linux package program, makes an
# update package from the three releases in examples/sample-app, shows what it holds, and
# applies it to copies of the first and second release, printing what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh --linux
build=build/demo-tools
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGP_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target genpatch genpatch-stub -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
genpatch=$PWD/$build/src/cli/genpatch
stub=$PWD/$build/src/app/genpatch-stub

example=$PWD/examples/sample-app
work=$PWD/build/demo
rm -rf "$work"
mkdir -p "$work/tmp"
export GENPATCH_TEMP_DIR="$work/tmp"

echo "== genpatch build: three releases of examples/sample-app into one package"
"$genpatch" build --project "$example/project.toml" --stub "$stub" -o "$work/sample-update"
echo
echo "== genpatch info --files"
"$genpatch" info --files "$work/sample-update"

# What differs between two folders, one line a file.
changes() {
  (cd "$1" && find . -type f | sort) >"$work/before.txt"
  (cd "$2" && find . -type f | sort) >"$work/after.txt"
  comm -23 "$work/before.txt" "$work/after.txt" | sed 's|^\./|  removed  |'
  comm -13 "$work/before.txt" "$work/after.txt" | sed 's|^\./|  added    |'
  comm -12 "$work/before.txt" "$work/after.txt" | while read -r f; do
    cmp -s "$1/$f" "$2/$f" || echo "  changed  ${f#./}"
  done
}

for start in 1.0 1.1; do
  target="$work/installed-$start"
  cp -r "$example/$start" "$target"
  echo
  echo "== genpatch check --verbose and apply --dry-run on a copy of release $start"
  # check: 0 an update is due, 4 the newest is installed, 3 none matches.
  "$genpatch" check --verbose "$work/sample-update" --dest "$target" || echo "(check exit code $?)"
  "$genpatch" apply --dry-run "$work/sample-update" --dest "$target"
  echo
  echo "== the package program on a copy of release $start (main dialog answered: execute)"
  (cd "$target" && GENPATCH_ANSWERS=execute "$work/sample-update") || true
  echo "-- what changed:"
  changes "$example/$start" "$target"
  if diff -r "$example/2.0" "$target" >/dev/null; then
    echo "-- the copy of $start is now identical to release 2.0"
  else
    echo "-- the copy of $start differs from release 2.0:" && diff -r "$example/2.0" "$target" || true
    exit 1
  fi
done
echo
echo "== run again on the updated copy: nothing to do"
(cd "$work/installed-1.0" && GENPATCH_ANSWERS=execute "$work/sample-update") || true
