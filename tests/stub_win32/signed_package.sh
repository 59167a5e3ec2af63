#!/usr/bin/env bash
# A package executable signed after it was built runs as before, and a signed package whose
# bytes changed is refused. A throwaway key and certificate are made here with openssl (nothing
# secret is kept), the package is signed with osslsigncode, then run under Wine through
# uidriver.exe and applied with the Linux genpatch.
#
#   signed_package.sh WINE_RUN STUB_EXE UIDRIVER_EXE HOST_GENPATCH WORK_DIR
#
# Exits 77 (skipped, with the reason) when openssl, osslsigncode or the Linux genpatch is missing.
set -uo pipefail
wine_run=$1 stub=$2 uidriver=$3 genpatch=$4 work=$5

for tool in openssl osslsigncode; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/deps.sh installs it)"
    exit 77
  fi
done
if [ ! -x "$genpatch" ]; then
  echo "skipped: no Linux genpatch at $genpatch (build the linux-debug preset first)"
  exit 77
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work" && mkdir -p "$work" || exit 1
cd "$work" || exit 1
export GENPATCH_TEMP_DIR="$work/temp"
mkdir -p temp

# Two releases: a changed, an added and a removed file, and one that stays.
example="$work/releases"
mkdir -p "$example/1.0/data" "$example/2.0/data"
printf 'version 1.0\n' >"$example/1.0/readme.txt"
printf 'version 2.0\n' >"$example/2.0/readme.txt"
head -c 300000 /dev/zero | tr '\0' 'a' >"$example/1.0/data/same.bin"
cp "$example/1.0/data/same.bin" "$example/2.0/data/same.bin"
printf 'old\n' >"$example/1.0/data/old.txt"
printf 'new\n' >"$example/2.0/data/new.txt"
"$genpatch" build --stub "$stub" -o unsigned.exe "$example/1.0" "$example/2.0" >build.log 2>&1 ||
  { cat build.log; exit 1; }

# Signing as a publisher does it, with a certificate of its own.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=genpatch test publisher" >openssl.log 2>&1 || { cat openssl.log; exit 1; }
osslsigncode sign -certs cert.pem -key key.pem -n "genpatch test" -h sha256 \
  -in unsigned.exe -out signed.exe >sign.log 2>&1 || { cat sign.log; exit 1; }
osslsigncode verify -CAfile cert.pem signed.exe >verify.log 2>&1 ||
  { cat verify.log; fail "osslsigncode verify refuses the signed package"; }
echo "unsigned $(stat -c %s unsigned.exe) bytes, signed $(stat -c %s signed.exe) bytes"

# genpatch info tells the two apart.
"$genpatch" info unsigned.exe >info-unsigned.txt 2>&1 || fail "info of the unsigned package"
"$genpatch" info signed.exe >info-signed.txt 2>&1 || fail "info of the signed package"
grep -q '^signed: *no$' info-unsigned.txt || fail "info does not say the unsigned package is unsigned"
table=$(( $(stat -c %s signed.exe) - $(stat -c %s unsigned.exe) ))
grep -Eq "^signed: *yes, certificate table [0-9]+ bytes$" info-signed.txt ||
  fail "info does not say the package is signed: $(grep signed: info-signed.txt)"
"$genpatch" info --json signed.exe | grep -q '"signed":true' || fail "info --json: no \"signed\":true"
signature=$(sed -nE 's/^signed: *yes, certificate table ([0-9]+) bytes$/\1/p' info-signed.txt)
if [ -n "$signature" ] && { [ "$signature" -gt "$table" ] || [ "$signature" -lt $((table - 7)) ]; }; then
  fail "certificate table of $signature bytes for a file that grew by $table"
fi

install() { rm -rf "$1" && cp -r "$example/1.0" "$1"; }

# genpatch apply (Linux) with each package.
for package in unsigned signed; do
  install "apply-$package"
  if ! "$genpatch" apply "$package.exe" --dest "apply-$package" >"apply-$package.log" 2>&1; then
    cat "apply-$package.log"; fail "genpatch apply of the $package package"
  fi
  diff -r "apply-$package" "$example/2.0" >/dev/null || fail "genpatch apply of the $package package: not 2.0"
done

# The Windows program under Wine, through uidriver.exe.
run_windows() {  # package destination transcript
  "$wine_run" "$uidriver" --timeout 120 --main execute --folder "$(windows_path "$work/$2")" \
    -- "$(windows_path "$work/$1")" \
    >"$3" 2>&1
}
for package in unsigned signed; do
  install "wine-$package"
  if ! run_windows "$package.exe" "wine-$package" "wine-$package.txt"; then
    cat "wine-$package.txt"; fail "the $package package under Wine"
  fi
  diff -r "wine-$package" "$example/2.0" >/dev/null || fail "the $package package under Wine: not 2.0"
done
cmp -s wine-unsigned.txt wine-signed.txt || fail "the signed package under Wine said something else"

# One byte of the payload changed: the signature no longer matches, and the Windows program
# refuses the package before anything changes (Wine's wintrust compares the digest).
program=$("$genpatch" info --json signed.exe | sed -nE 's/.*"program_size":([0-9]+).*/\1/p')
payload=$("$genpatch" info --json signed.exe | sed -nE 's/.*"payload_size":([0-9]+).*/\1/p')
change_byte() {  # file offset
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
cp signed.exe changed.exe
change_byte changed.exe $((program + payload / 2))
if osslsigncode verify -CAfile cert.pem changed.exe >verify-changed.log 2>&1; then
  fail "osslsigncode verify accepts the changed package"
fi
install wine-changed
run_windows changed.exe wine-changed wine-changed.txt
code=$?
[ "$code" -eq 1 ] || fail "the changed package under Wine ended with $code"
diff -r wine-changed "$example/1.0" >/dev/null || fail "the changed package changed the installation"
grep -q "デジタル署名がファイルの内容と一致しません" wine-changed.txt ||
  fail "the changed package under Wine was not refused for its signature: $(cat wine-changed.txt)"

# One byte of the trailer changed: the table no longer follows the package data, and genpatch
# (which checks no signature) refuses the package as damaged.
table_offset=$(( $(stat -c %s signed.exe) - signature ))
cp signed.exe damaged.exe
change_byte damaged.exe $((table_offset - 8))
if osslsigncode verify -CAfile cert.pem damaged.exe >verify-damaged.log 2>&1; then
  fail "osslsigncode verify accepts the damaged package"
fi
install apply-damaged
if "$genpatch" apply damaged.exe --dest apply-damaged >apply-damaged.log 2>&1; then
  fail "genpatch apply accepts the damaged package"
fi
grep -q "is a damaged package" apply-damaged.log || fail "genpatch apply: $(cat apply-damaged.log)"
diff -r apply-damaged "$example/1.0" >/dev/null || fail "genpatch apply of the damaged package changed files"

# A certificate table that does not end the file: a damaged package.
cp signed.exe extended.exe && printf 'x' >>extended.exe
"$genpatch" info extended.exe >info-extended.txt 2>&1 && fail "info accepts a table that does not end the file"
grep -q "is a damaged package" info-extended.txt || fail "info: $(cat info-extended.txt)"
install wine-extended
run_windows extended.exe wine-extended wine-extended.txt
grep -q "ファイルではありません" wine-extended.txt ||
  fail "the Windows program did not refuse a table that does not end the file: $(cat wine-extended.txt)"
diff -r wine-extended "$example/1.0" >/dev/null || fail "the extended package changed the installation"

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "signed packages: all checks passed"
