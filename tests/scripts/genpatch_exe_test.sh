#!/usr/bin/env bash
# genpatch.exe under Wine, from release folders with Japanese names: build (with the program
# image next to it, as by default), info --json, check, apply, extract; the package it built
# applied by genpatch-stub.exe through uidriver.exe; and the package byte for byte the same as
# the one the Linux genpatch builds from the same folders.
#
#   genpatch_exe_test.sh WINE_RUN GENPATCH_EXE UIDRIVER_EXE WORK_DIR [LINUX_GENPATCH]
#
# Without a Linux genpatch (build the linux-debug preset first) everything else still runs and
# the test ends as skipped (77), so that the missing comparison shows; with
# GP_REQUIRE_LINUX_GENPATCH=1 (scripts/test.sh, which builds it first) it fails instead.
set -euo pipefail
wine_run=$1 genpatch_exe=$2 uidriver_exe=$3 work=$4 linux_genpatch=${5:-}

fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
# One clock for both builders: the lists carry last-write times as local time.
export TZ=UTC

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Three releases; the folder names become the generation names. ソ and 表 end in the byte
# 0x5C in code page 932.
r1='ソフト1.0' r2='ソフト1.1' r3='表示2.0'
for r in "$r1" "$r2" "$r3"; do mkdir -p "src/$r/データ" "src/$r/bin"; done
printf 'readme one\n' >"src/$r1/説明書.txt"
printf 'readme two\n' >"src/$r2/説明書.txt"
printf 'readme two\n' >"src/$r3/説明書.txt"
for r in "$r1" "$r2" "$r3"; do
  python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + len(sys.argv[1])) % 251 for i in range(40000)))' \
    "$r" >"src/$r/bin/app.exe"
done
printf 'table v1\n' >"src/$r1/データ/表.dat"
printf 'table v2\n' >"src/$r2/データ/表.dat"
printf 'new in 2.0\n' >"src/$r3/データ/能力.ini"
find src -exec touch -h -d '2024-05-06 07:08:09' {} +

# Build with the program image next to genpatch.exe (the default).
"$wine_run" "$genpatch_exe" build -o pkg-win.exe "src/$r1" "src/$r2" "src/$r3" >build.out ||
  fail "genpatch.exe build: $(cat build.out)"
grep -q 'package ' build.out || fail "no summary: $(cat build.out)"
stub=$(dirname "$genpatch_exe")/genpatch-stub.exe
head -c "$(stat -c %s "$stub")" pkg-win.exe | cmp -s - "$stub" ||
  fail "the package does not begin with the program image next to genpatch.exe"

# info --json: valid JSON with the generation names in UTF-8.
"$wine_run" "$genpatch_exe" info --json pkg-win.exe >info.json || fail "info --json"
python3 - "$r1" "$r2" "$r3" <<'PY' || fail "info --json: $(cat info.json)"
import json, sys
info = json.load(open("info.json", encoding="utf-8"))
names = [g["name"] for g in info["generations"]]
assert names == sys.argv[1:], names
PY

# check and apply on a copy of the first release.
cp -r "src/$r1" inst
"$wine_run" "$genpatch_exe" check pkg-win.exe --dest inst >check.out || fail "check: $(cat check.out)"
grep -qF "installed: $r1 " check.out || fail "check: $(cat check.out)"
"$wine_run" "$genpatch_exe" apply pkg-win.exe --dest inst >apply.out 2>&1 ||
  fail "apply: $(cat apply.out)"
diff -r inst "src/$r3" || fail "apply left something else than the newest release"
rc=0; "$wine_run" "$genpatch_exe" check pkg-win.exe --dest inst >check2.out || rc=$?
[ "$rc" = 4 ] || fail "check after apply: exit $rc, not 4 (the newest is installed)"
grep -qF "installed: $r3 (the newest generation)" check2.out || fail "check: $(cat check2.out)"

# extract: the work docfile, a compound file.
"$wine_run" "$genpatch_exe" extract pkg-win.exe work.cfb >extract.out || fail "extract"
[ "$(head -c 8 work.cfb | od -An -tx1 | tr -d ' \n')" = d0cf11e0a1b11ae1 ] ||
  fail "extract did not write a compound file"

# The package program itself, driven through its windows.
cp -r "src/$r1" inst2
"$wine_run" "$uidriver_exe" --timeout 120 --main execute --folder "$(winpath inst2)" \
  -- "$(winpath pkg-win.exe)" >uidriver.out 2>&1 || fail "uidriver: $(cat uidriver.out)"
diff -r inst2 "src/$r3" || fail "the package program left something else than the newest release"

# The same package from the Linux genpatch, with the same program image.
if [ -z "$linux_genpatch" ] || [ ! -x "$linux_genpatch" ]; then
  [ "${GP_REQUIRE_LINUX_GENPATCH:-}" = 1 ] && fail "no Linux genpatch at '$linux_genpatch'"
  echo "no Linux genpatch at '$linux_genpatch': the comparison with it is skipped"
  exit 77
fi
"$linux_genpatch" build --stub "$stub" -o pkg-linux.exe "src/$r1" "src/$r2" "src/$r3" >/dev/null ||
  fail "Linux genpatch build"
cmp pkg-win.exe pkg-linux.exe || fail "genpatch.exe and the Linux genpatch built different packages"
"$linux_genpatch" extract pkg-linux.exe work-linux.cfb >/dev/null || fail "Linux genpatch extract"
cmp work.cfb work-linux.cfb || fail "the extracted work docfiles differ"
echo "ok"
