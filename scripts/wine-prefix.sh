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
run env WINEPREFIX="$prefix" WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
run env WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true
run env WINEPREFIX="$prefix" WINEDEBUG=-all wine wineboot </dev/null >/dev/null 2>&1 || true
echo "wine prefix ready: $prefix"
