#!/usr/bin/env bash
# Runs part of the Windows test suites as the unprivileged user gptest, for behaviour that root
# would bypass (the read-only attribute under Wine). Exits 77 (skipped) when that is not
# possible here: not root, or no such user.
#   run-unprivileged.sh prepare WINE_PREFIX_SCRIPT PREFIX
#   run-unprivileged.sh run WINE_RUN PREFIX PROGRAM ARGS...
set -euo pipefail
user=gptest
if [ "$(id -u)" -ne 0 ] || ! id "$user" >/dev/null 2>&1 || ! command -v runuser >/dev/null; then
  echo "cannot run as $user here: skipped"
  exit 77
fi
mode=$1; shift
case "$mode" in
  prepare)
    # Only the few read-only cases run in it: its server need not stay long.
    GP_WINESERVER_LINGER=${GP_WINESERVER_LINGER:-60} exec bash "$1" "$2" "$user" ;;
  run)
    wine_run=$1 prefix=$2; shift 2
    home=$(getent passwd "$user" | cut -d: -f6)
    # The program must be readable by that user; its scratch files go to the prefix's own
    # temporary folder.
    exec runuser -u "$user" -- env HOME="$home" GP_WINEPREFIX="$prefix" GP_REQUIRE_READONLY=1 \
      "$wine_run" "$@" ;;
  *)
    echo "unknown mode $mode" >&2; exit 2 ;;
esac
