#!/usr/bin/env bash
# Checks that every #include "folder/..." under src/ stays within what the including folder may
# use: dependencies point downwards only. Prints each include that breaks the table below (file,
# line, the including layer and the included one) and exits 1; exits 0 when there is none.
#
#   bash scripts/check-layers.sh [SOURCE_DIR]     (default: this script's repository)
#
# The layers, lowest first, and what each may include besides itself:
#
#   layer           may include
#   base            -
#   cfb             base
#   platform        base cfb              (cfb for the structured storages)
#   format          base
#   storage         base platform format
#   codec           base platform format storage
#   ui              base platform
#   update          base platform format storage codec ui
#   app             base platform format storage codec ui update
#   builder         base platform cfb format codec
#   cli             base platform cfb format storage codec ui update app builder
#   uidriver        base platform ui      (a Windows test tool)
#
# codec sits above storage: its file-level operations (payload expansion, file checksums) use
# the storage layer's owned strings and file helpers; storage does not use codec.
set -euo pipefail

declare -A may_include=(
  [base]=""
  [cfb]="base"
  [platform]="base cfb"
  [platform/posix]="base cfb"
  [format]="base"
  [storage]="base platform format"
  [codec]="base platform format storage"
  [ui]="base platform"
  [update]="base platform format storage codec ui"
  [app]="base platform format storage codec ui update"
  [builder]="base platform cfb format codec"
  [cli]="base platform cfb format storage codec ui update app builder"
  [uidriver]="base platform ui"
)

root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
src="$root/src"
if [[ ! -d "$src" ]]; then
  echo "check-layers: no src/ folder in '$root'" >&2
  exit 2
fi

include_pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*"(([^/"]+)/[^"]*)"'
failures=0
checked=0
# file:line:text for every quoted include that names a folder.
while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  relative=${file#"$src"/}
  layer=${relative%%/*}
  key=$layer
  [[ $relative == platform/posix/* ]] && key=platform/posix
  [[ $text =~ $include_pattern ]] || continue
  target=${BASH_REMATCH[1]}
  included=${BASH_REMATCH[2]}
  checked=$((checked + 1))
  if [[ -z ${may_include[$layer]+set} ]]; then
    echo "src/$relative:$line: '$layer' is not a layer of the table in scripts/check-layers.sh"
    failures=$((failures + 1))
    continue
  fi
  [[ $included == "$layer" ]] && continue
  if [[ -z ${may_include[$included]+set} ]]; then
    echo "src/$relative:$line: $layer includes \"$target\" from '$included', which is not a layer"
    failures=$((failures + 1))
    continue
  fi
  allowed=" ${may_include[$key]} "
  if [[ $allowed != *" $included "* ]]; then
    echo "src/$relative:$line: $layer includes $included (\"$target\"); $key may include only:" \
         "${may_include[$key]:--}"
    failures=$((failures + 1))
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' "$src" \
           --include='*.h' --include='*.cpp' --include='*.inc' | sort -t: -k1,1 -k2,2n)

if ((failures > 0)); then
  echo "check-layers: $failures include(s) against the layering" >&2
  exit 1
fi
echo "check-layers: $checked includes under src/, all within the layering"
