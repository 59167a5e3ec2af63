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
  if [ "$name" = windows ]; then
    bash scripts/wine-prefix.sh "$PWD/build/windows/wineprefix"
  fi
  ctest --preset "$name" -j "$( [ "$name" = windows ] && echo 1 || echo "$jobs")" 2>&1 | tee "$log"
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
