#!/usr/bin/env bash
# Takes the pictures in doc/ of the Windows package program running under Wine on a virtual X
# server: the main dialog and the properties dialog (the bundled example's package), the
# progress dialog and the completion message box (a package made here whose one step changes a
# few hundred generated files, so that the run lasts long enough to be photographed).
#
#   bash scripts/screenshots.sh            # writes doc/main-dialog.png, doc/properties-dialog.png,
#                                          #        doc/progress-dialog.png, doc/final-message.png
#
# Environment: SHOTS_OUT (folder for the PNGs, default doc/), GENPATCH and STUB (a Linux genpatch
# and a genpatch-stub.exe to use instead of building them in build-shots/), SHOTS_FILES (files in
# the progress dialog's package, default 300).
#
# The run needs Xvfb, xdotool, xwd, ImageMagick, Wine and the IPA Gothic font; they are installed
# here when missing. Everything else lives in build-shots/ (builds, the Wine prefix) and in
# /tmp/shot (the installed copies: the main dialog shows the current folder, Z:\tmp\shot\app).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${SHOTS_OUT:-$root/doc}
shots=$root/build-shots
work=/tmp/shot

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
say() { echo "screenshots: $*"; }

# --- what this script needs besides the Linux build -------------------------------------------
bash scripts/deps.sh --linux
extras=(g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool x11-apps imagemagick
        fonts-ipafont-gothic python3)
missing=()
for p in "${extras[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  say "installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# --- genpatch (Linux) and the Windows package program ------------------------------------------
mkdir -p "$shots" "$out"
jobs=$(nproc 2>/dev/null || echo 2)
if [ -z "${GENPATCH:-}" ]; then
  say "building genpatch"
  cmake -S . -B "$shots/linux" -DCMAKE_BUILD_TYPE=Release -DGP_BUILD_TESTS=OFF >/dev/null
  cmake --build "$shots/linux" --target genpatch -j "$jobs" >/dev/null
  GENPATCH=$shots/linux/src/cli/genpatch
fi
if [ -z "${STUB:-}" ]; then
  say "building genpatch-stub.exe"
  cmake -S . -B "$shots/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DGP_BUILD_TESTS=OFF >/dev/null
  cmake --build "$shots/windows" --target genpatch-stub -j "$jobs" >/dev/null
  STUB=$shots/windows/src/app/genpatch-stub.exe
fi

# --- the Wine prefix -----------------------------------------------------------------------------
export WINEPREFIX=$shots/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "making the Wine prefix $WINEPREFIX"
  wineboot --init </dev/null >/dev/null 2>&1 || true
fi
wineserver -w 2>/dev/null || true
# Unmanaged windows: with no window manager Wine draws the frames itself, and closing a managed
# window would wait 2 s for a manager that never answers. The dialog font and the fonts Wine
# uses for captions and message boxes become IPA Gothic. The caption buttons are glyphs of the
# Marlett font: it is placed and registered in the prefix, or the close button shows a plain "r".
reg_file=$shots/screenshots.reg
cat >"$reg_file.utf8" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS PGothic"="IPAPGothic"
"MS Gothic"="IPAGothic"
"MS UI Gothic"="IPAPGothic"
"Tahoma"="IPAPGothic"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Fonts]
"Marlett (TrueType)"="marlett.ttf"
EOF
# regedit reads UTF-16 with a byte order mark; the names above are not ASCII.
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$reg_file.utf8"; } >"$reg_file"
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
for dir in /usr/share/wine/fonts /usr/lib/wine/fonts /usr/lib/x86_64-linux-gnu/wine/fonts; do
  if [ -f "$dir/marlett.ttf" ]; then cp "$dir/marlett.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"; break; fi
done
wine regedit /S "$(winepath -w "$reg_file" 2>/dev/null)" </dev/null >/dev/null 2>&1
wineserver -w 2>/dev/null || true

# --- the virtual screen --------------------------------------------------------------------------
display=99
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=:$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# The id of the first visible window whose title is $1 and which is not one of $2 (ids separated
# by blanks), waiting up to $3 seconds (default 30). Prints nothing when none appears.
wait_window() {
  local name=$1 skip=" ${2:-} " limit=$(( ${3:-30} * 10 )) w
  for _ in $(seq "$limit"); do
    for w in $(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null); do
      case $skip in *" $w "*) ;; *) echo "$w"; return 0 ;; esac
    done
    sleep 0.1
  done
  return 1
}

# Writes the screen area of window $1 to the PNG $2, small: no metadata, maximum compression.
# $3, when given, is the geometry to cut ("WIDTHxHEIGHT+X+Y") instead of the window's own.
capture() {
  local w=$1 png=$2 X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$w")"
  if [ -n "${3:-}" ]; then
    IFS='x+' read -r WIDTH HEIGHT X Y <<<"$3"
  fi
  xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -strip \
    -define png:compression-level=9 "$png"
  if command -v pngcrush >/dev/null; then pngcrush -q -ow "$png" >/dev/null 2>&1 || true; fi
  say "wrote $png (${WIDTH}x${HEIGHT}, $(stat -c %s "$png") bytes)"
}

# Clicks at ($2, $3) inside window $1.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# Waits up to $1 seconds for the program to end, then ends it.
finish_program() {
  for _ in $(seq $(( $1 * 10 ))); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$program_pid" 2>/dev/null; then
    say "the program did not end by itself; ending it"
    wineserver -k 2>/dev/null || true
  fi
  wait "$program_pid" 2>/dev/null || true
  program_pid=
}

# Button centres in pixels, for the dialog font IPA P Gothic at 96 dpi (the main dialog is
# 326 x 147 pixels, the properties dialog 362 x 374).
main_properties=(60 120); main_execute=(165 120); main_cancel=(265 120)
properties_cancel=(215 353)

caption='サンプルアプリ アップデート'   # the message caption of both packages

rm -rf "$work"
mkdir -p "$work"

# --- main and properties dialog: the bundled example on a copy of its first release -------------
say "packaging the example"
"$GENPATCH" build --project examples/sample-app/project.toml --stub "$STUB" \
  -o "$work/sample-update.exe" >/dev/null
cp -r examples/sample-app/1.0 "$work/app"
(cd "$work/app" && exec wine ../sample-update.exe) >/dev/null 2>&1 &
program_pid=$!
main=$(wait_window "$caption") || { say "the main dialog did not appear"; exit 1; }
sleep 0.5
capture "$main" "$out/main-dialog.png"
click "$main" "${main_properties[@]}"
props=$(wait_window 'プロパティ') || { say "the properties dialog did not appear"; exit 1; }
sleep 0.5
capture "$props" "$out/properties-dialog.png"
click "$props" "${properties_cancel[@]}"
sleep 0.5
click "$main" "${main_cancel[@]}"
finish_program 10

# --- progress dialog and final message: one step that patches many files ----------------------
# A step over a few hundred small files keeps the progress dialog up for some seconds under Wine;
# the picture is taken once half of the stage files exist, with the program stopped (SIGSTOP)
# for the moment of the capture, so that the counter and the bar belong together.
files=${SHOTS_FILES:-300}
say "generating two releases of $files files"
big=$work/big
mkdir -p "$big/1.0" "$big/2.0"
python3 - "$big" "$files" <<'EOF'
# Releases 1.0 and 2.0 of a folder of small data files, each file changed in one place.
import random, sys
folder, files = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
for i in range(files):
    data = bytearray(rng.randbytes(16384))
    with open(f"{folder}/1.0/data{i:04d}.bin", "wb") as f:
        f.write(data)
    at = rng.randrange(0, len(data) - 32)
    data[at:at + 32] = rng.randbytes(32)
    with open(f"{folder}/2.0/data{i:04d}.bin", "wb") as f:
        f.write(data)
EOF
cat >"$big/project.toml" <<EOF
caption = "$caption"
comment = "データファイルを更新します。"
default_folder = ""
folder_choice = true
version_check = true
file_removal = true
backup = false
restart = false

[texts]
project_comment = "データ 2.0 への更新"
failure = "差分を実行出来ません。"
completion = "正常終了"
missing_file = "元ファイルがありません。"
up_to_date = "既に最新版になっています。"
caption = "$caption"

[[generation]]
name = "1.0"
comment = "最初の版"
folder = "1.0"

[[generation]]
name = "2.0"
comment = "データを更新"
folder = "2.0"
EOF
say "packaging the step"
"$GENPATCH" build --project "$big/project.toml" --stub "$STUB" -o "$work/data-update.exe" >/dev/null
app=$work/data
cp -r "$big/1.0" "$app"
(cd "$app" && exec wine ../data-update.exe) >/dev/null 2>&1 &
program_pid=$!
main=$(wait_window "$caption") || { say "the main dialog did not appear"; exit 1; }
sleep 0.5
click "$main" "${main_execute[@]}"
progress=$(wait_window 'ｱｯﾌﾟﾃﾞｰﾄしています\.\.\.' "" 60) ||
  { say "the progress dialog did not appear"; exit 1; }
for _ in $(seq 1200); do
  [ "$(find "$app" -maxdepth 1 -name '*.new1' | wc -l)" -ge $((files / 2)) ] && break
  sleep 0.05
done
kill -STOP "$program_pid"
sleep 0.5
capture "$progress" "$out/progress-dialog.png"
kill -CONT "$program_pid"
final=$(wait_window "$caption" "$main" 300) || { say "the final message did not appear"; exit 1; }
# The message box is mapped on the screen but its first paint never reaches it: it stays black
# (waiting, moving the pointer over it or an Expose of the whole screen do not help). Once its X
# window is made larger, Wine paints it; the picture is cut to the box's own size.
sleep 1
eval "$(xdotool getwindowgeometry --shell "$final")"
box="${WIDTH}x${HEIGHT}+${X}+${Y}"
xdotool windowsize "$final" $((WIDTH + 200)) $((HEIGHT + 40))
sleep 1
capture "$final" "$out/final-message.png" "$box"
xdotool key --window "$final" Return 2>/dev/null || true
finish_program 10
if diff -r "$big/2.0" "$app" >/dev/null; then say "the copy is now release 2.0"; else
  say "the copy differs from release 2.0"; exit 1; fi
rm -rf "$work"
say "done"
