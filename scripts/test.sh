#!/usr/bin/env bash
# Installs what is needed, builds the Linux (ASan + UBSan) and Windows (MinGW-w64) targets and
# runs every test suite: the Linux one natively, the Windows one under Wine. Ends with one
# "N passed, N failed" line over both.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/deps.sh || exit 1

status=0
declare -a logs=()

run_suite() {  # name configure-preset
  local name=$1
  local log=build/$name-ctest.log
  mkdir -p build
  cmake --preset "$name" >/dev/null || { echo "configure $name failed"; return 1; }
  cmake --build --preset "$name" -j "$jobs" || { echo "build $name failed"; return 1; }
  local -a in_env=()
  if [ "$name" = windows ]; then
    # Under Wine the suite runs as on a machine where Wine has never run: a new HOME (its XDG
    # folders under it), no WINEPREFIX or DISPLAY of the caller, and new prefixes, made again
    # (GP_WINE_FRESH=1: the unprivileged user's prefix as well). What works only once Wine has
    # warmed up fails here first, not on a new contributor's machine. genpatch.exe's packages
    # are compared with those of the Linux genpatch just built.
    local wine_home
    wine_home=$(mktemp -d "${TMPDIR:-/tmp}/genpatch-wine-home.XXXXXX")
    in_env=(env -u WINEPREFIX -u DISPLAY -u WAYLAND_DISPLAY HOME="$wine_home"
            XDG_CACHE_HOME="$wine_home/.cache" XDG_CONFIG_HOME="$wine_home/.config"
            XDG_DATA_HOME="$wine_home/.local/share" GP_WINE_FRESH=1
            GP_REQUIRE_LINUX_GENPATCH=1)
    "${in_env[@]}" bash scripts/wine-prefix.sh "$PWD/build/windows/wineprefix" ||
      { echo "wine prefix for $name failed"; rm -rf "$wine_home"; return 1; }
  fi
  "${in_env[@]}" ctest --preset "$name" -j "$( [ "$name" = windows ] && echo 1 || echo "$jobs")" \
    2>&1 | tee "$log"
  if [ "$name" = windows ]; then
    # Nothing of that run stays behind: its server ends, then its HOME goes.
    WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -w 2>/dev/null || true
    rm -rf "$wine_home"
  fi
  logs+=("$log")
}

run_suite linux-debug || status=1
run_suite windows || status=1

passed=0; failed=0
for log in "${logs[@]}"; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then status=1; continue; fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
done
[ "$failed" -eq 0 ] || status=1
echo "${passed} passed, ${failed} failed"
exit $status
