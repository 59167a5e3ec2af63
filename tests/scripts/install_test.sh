#!/usr/bin/env bash
# `cmake --install` into a temporary prefix, then the installed genpatch builds a package of the
# bundled example with its default package program (share/genpatch/genpatch-stub), and the
# package's program image is that file. Arguments: the build folder and the source folder.
set -euo pipefail
build=$1
source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/genpatch share/genpatch/genpatch-stub share/doc/genpatch/README.md \
         share/doc/genpatch/project-file.md share/doc/genpatch/format.md; do
  [ -f "$prefix/$f" ] || { echo "install_test: $f was not installed"; exit 1; }
done

export GENPATCH_TEMP_DIR="$prefix"
"$prefix/bin/genpatch" build -q -o "$prefix/update" "$source/examples/sample-app/1.0" \
  "$source/examples/sample-app/2.0"
stub_size=$(stat -c %s "$prefix/share/genpatch/genpatch-stub")
cmp -n "$stub_size" "$prefix/share/genpatch/genpatch-stub" "$prefix/update" ||
  { echo "install_test: the package does not start with the installed package program"; exit 1; }
"$prefix/bin/genpatch" info "$prefix/update" >/dev/null
echo "install_test: ok"
