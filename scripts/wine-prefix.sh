#!/usr/bin/env bash
# Prepares a Wine prefix for headless tests: booted once (so that later Wine processes do not
# start services that hold their output open), null graphics driver (dialogs and message boxes
# work without any X server), no Mono or Gecko prompts.
# Usage: wine-prefix.sh PREFIX [USER]   (USER: prepare it for that user instead of the caller)
set -euo pipefail
prefix=$1
user=${2:-}
run() {
  if [ -n "$user" ]; then runuser -u "$user" -- env HOME="$(getent passwd "$user" | cut -d: -f6)" "$@"
  else "$@"; fi
}
if [ -n "$user" ]; then mkdir -p "$prefix" && chown "$user" "$prefix"; fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ ! -f "$prefix/system.reg" ]; then
  run env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init </dev/null >/dev/null 2>&1 || true
fi
# A server that is already running ignores a new persistence setting: this prefix's own
# server (and any program left in it) is ended first. Then one server stays for the whole test
# run (up to GP_WINESERVER_LINGER seconds after its last program), so that each test program
# does not pay for starting Wine's services again.
run env WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
run env WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
run env WINEPREFIX="$prefix" wineserver -p"${GP_WINESERVER_LINGER:-600}" 2>/dev/null || true
run env WINEPREFIX="$prefix" WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
# Started here with no output attached: services inherit the output of the program that
# starts them, and would hold a test's pipe open.
run env WINEPREFIX="$prefix" WINEDEBUG=-all wine wineboot </dev/null >/dev/null 2>&1 || true
echo "wine prefix ready: $prefix"
