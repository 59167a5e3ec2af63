#!/usr/bin/env bash
# Prepares a Wine prefix for headless tests and proves that its first program can create
# windows: booted once (so that later Wine processes do not start services that hold their
# output open), null graphics driver (dialogs and message boxes work without any X server), no
# Mono or Gecko prompts.
# Usage: wine-prefix.sh PREFIX [USER]   (USER: prepare it for that user instead of the caller)
# Build the windows preset first: the proof is the program gp_desktop_check.exe of the build
# the prefix lies in (PREFIX/../tests/), or the one named in GP_DESKTOP_CHECK.
# GP_WINE_FRESH=1 removes the prefix first, so that it is made as on a machine where Wine has
# never run.
set -euo pipefail
prefix=$1
user=${2:-}
check=${GP_DESKTOP_CHECK:-$(dirname "$prefix")/tests/gp_desktop_check.exe}
if [ ! -f "$check" ]; then
  echo "wine-prefix.sh: no window check program at $check: build the windows preset first" >&2
  exit 1
fi
run() {
  if [ -n "$user" ]; then runuser -u "$user" -- env HOME="$(getent passwd "$user" | cut -d: -f6)" "$@"
  else "$@"; fi
}
in_prefix() { run env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$@"; }
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
# The same locale rule as the build's wine-run.sh: a UTF-8 one, so that host file names outside
# ASCII work.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
  *[Uu][Tt][Ff]-8* | *[Uu][Tt][Ff]8*) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
if [ "${GP_WINE_FRESH:-}" = 1 ] && [ -d "$prefix" ]; then
  in_prefix wineserver -k 2>/dev/null || true
  in_prefix wineserver -w 2>/dev/null || true
  rm -rf "$prefix"
fi
if [ -n "$user" ]; then mkdir -p "$prefix" && chown "$user" "$prefix"; fi
if [ ! -f "$prefix/system.reg" ]; then
  in_prefix wineboot --init </dev/null >/dev/null 2>&1 || true
fi
# The desktop belongs to explorer.exe, which loads the graphics driver named in the registry
# once, when the desktop comes up, and keeps it until the desktop closes: a few seconds after
# its last program ends, or never while programs keep joining it. The first boot has no driver
# setting yet, so its desktop tries the X11 driver, which fails without a display, and every
# program that joins that desktop gets a window-less driver: no window, no message box. So the
# setting is written first, and then this prefix's server ends with every program in it, that
# desktop included; the next desktop comes up with the null driver.
in_prefix wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
# A server that is already running ignores a new persistence setting, which is one more reason to
# end it here. Then one server stays for the whole test run (up to GP_WINESERVER_LINGER seconds
# after its last program), so that each test program does not pay for starting Wine's services
# again.
in_prefix wineserver -k 2>/dev/null || true
in_prefix wineserver -w 2>/dev/null || true
in_prefix wineserver -p"${GP_WINESERVER_LINGER:-600}" 2>/dev/null || true
# Started here with no output attached: services inherit the output of the program that
# starts them, and would hold a test's pipe open.
in_prefix wine wineboot </dev/null >/dev/null 2>&1 || true
# The proof: the first program of the prepared prefix creates a window and destroys it. Its
# output goes to a file, not a pipe: the desktop process it starts inherits it.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! run env WINEPREFIX="$prefix" WINEDEBUG=-all,err+winediag WINEDLLOVERRIDES="mscoree,mshtml=" \
     wine "$check" </dev/null >"$log" 2>&1; then
  echo "wine-prefix.sh: the Wine desktop is not ready in $prefix: its first program cannot" \
       "create a window" >&2
  grep -v -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-architecture' \
    -e 'apt-get install wine32' "$log" | sed 's/^/  /' >&2 || true
  exit 1
fi
echo "wine prefix ready: $prefix (its first program created a window)"
