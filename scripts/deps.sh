#!/usr/bin/env bash
# Installs every Debian package that the builds, tests, fuzz targets and benchmarks need.
# Idempotent: packages already present are not fetched again.
# With --linux, only what the Linux build of genpatch and its package program needs.
set -euo pipefail

linux_packages=(build-essential cmake ninja-build pkg-config libtomlplusplus-dev libcli11-dev zlib1g-dev locales)
packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  g++-mingw-w64-x86-64-posix wine wine64
  python3 python3-olefile libgsf-bin
  libtomlplusplus-dev libcli11-dev zlib1g-dev libz-mingw-w64-dev libdeflate-dev osslsigncode openssl
  ncompress xdelta3 bsdiff zstd bc
  locales util-linux passwd
)

if [ "${1:-}" = "--linux" ]; then packages=("${linux_packages[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ "${#missing[@]}" -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# A Japanese locale, for tests that run Wine with the Japanese ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  as_root sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi

[ "${1:-}" = "--linux" ] && { echo "deps: ready (Linux build)"; exit 0; }

# An unprivileged user for read-only tests: root ignores permission bits, and Wine maps the
# read-only attribute to them.
if ! id gptest >/dev/null 2>&1; then
  as_root useradd --create-home --shell /bin/sh gptest
fi
echo "deps: ready"
