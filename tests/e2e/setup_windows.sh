#!/usr/bin/env bash
# The engine's own windows in a run that is not silent: the splash with a transparent colour and
# an opacity, then the presetup window of a bitmap with its progress bar.
#   setup_windows.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR
# host: the windows have no pixels there; the run keeps the splash for its display time, and a
#       damaged splash shows nothing and harms nothing.
# wine: the Windows engine on an X server of its own (Xvfb), in a Wine prefix of its own (the
#       suite's prefix has no display); screenshots taken while the windows are up are checked at
#       known points and kept in WORKDIR.
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$(realpath -m "$6")
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"

# --- The pictures: pixel values as a bitmap stores them (blue in bits 0-7, red 16-23).
red=FF0000 blue=0000FF green=00FF00 navy=0000A0
# bitmap FILE WIDTH HEIGHT EXPRESSION: a 24-bit bitmap whose pixel (x, y) is the colour the
# Python expression gives.
bitmap() {
  python3 - "$@" <<'EOF'
import struct, sys
path, width, height, expression = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
stride = (width * 3 + 3) // 4 * 4
rows = []
for y in reversed(range(height)):
    row = b"".join(struct.pack("<I", eval(expression))[:3] for x in range(width))
    rows.append(row + b"\0" * (stride - width * 3))
data = b"".join(rows)
header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
open(path, "wb").write(header + info + data)
EOF
}
# The splash: red, inside a blue frame 20 pixels wide (the transparent colour), and a red last
# column, which the region must keep.
bitmap "$work/splash.bmp" 300 120 \
  "0x$red if x == 299 or (20 <= x < 280 and 20 <= y < 100) else 0x$blue"
# The presetup picture: navy with a pure-green left part, which is never shown.
bitmap "$work/presetup.bmp" 285 180 "0x$green if x < 40 else 0x$navy"
printf 'BM broken' >"$work/broken.bmp"

# The demo with these pictures, and a presetup file big enough to keep the presetup window up.
make_project() {  # folder, splash and presetup bitmap elements, big file MiB
  rm -rf "$1" && cp -r "$demo" "$1"
  cp "$work/splash.bmp" "$work/presetup.bmp" "$work/broken.bmp" "$1/art/"
  sed -i "s|<splash [^>]*/>|$2|" "$1/demo.xml"
  if [ "$3" -gt 0 ]; then
    head -c "$(($3 * 1024 * 1024))" /dev/urandom >"$1/big.bin"
    sed -i 's|<presetup src="license.txt"/>|&<presetup src="big.bin"/>|' "$1/demo.xml"
  fi
}

presetup_element='<presetupbitmap src="art\\presetup.bmp"/>'
splash_element='<splash src="art\\splash.bmp" time="2" transparent="#0000FF" opacity="50"/>'
if [ "$mode" = host ]; then
  source "$(dirname "$0")/machine.sh"
  make_project "$work/timed" "$splash_element$presetup_element" 0
  build_package "$work/timed/demo.xml" "$work/timed-built" Setup
  check "kxbuild builds the package with a splash and a presetup bitmap" [ -f "$setup" ]
  start=$(date +%s%N)
  run_setup "$setup"
  elapsed=$((($(date +%s%N) - start) / 1000000))
  check "the run with windows succeeds" [ "$code" -eq 0 ]
  check "the splash stays its 2 seconds ($elapsed ms)" [ "$elapsed" -ge 2000 ]

  # A splash file that is no bitmap and too short for a trailer: packed as it is.
  make_project "$work/broken" '<splash src="art\\broken.bmp"/>' 0
  build_package "$work/broken/demo.xml" "$work/broken-built" Setup
  run_setup "$setup"
  check "a damaged splash shows nothing and the run succeeds" [ "$code" -eq 0 ]
  finish
  exit
fi

# --- Wine: an X server and a prefix of our own.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
display=
for number in $(seq 90 140); do
  [ -e "/tmp/.X$number-lock" ] && continue
  Xvfb ":$number" -screen 0 1024x768x24 -br -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  sleep 1
  if kill -0 "$xvfb" 2>/dev/null; then display=":$number"; break; fi
done
cleanup() {
  wineserver -k >/dev/null 2>&1
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
}
trap cleanup EXIT
check "an X server runs" [ -n "$display" ]
[ -n "$display" ] || { finish; exit; }
export DISPLAY=$display
wineboot -i >/dev/null 2>&1
wineserver -w
source "$(dirname "$0")/machine.sh"

# The colour at (x, y) of a screenshot, as "RRGGBB".
pixel() {  # screenshot, x, y
  stream -map rgb -storage-type char -extract "1x1+$2+$3" "$1" - 2>/dev/null | od -An -tx1 |
    tr -d ' \n' | tr a-f A-F
}
# The screen position and size of the window with that title: "X Y W H", "" while none.
window_geometry() {
  local id
  id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
  [ -n "$id" ] || return 0
  xdotool getwindowgeometry --shell "$id" | awk -F= '/^(X|Y|WIDTH|HEIGHT)=/ { printf "%s ", $2 }'
}
# Waits up to 30 s for the window with that title to be on screen; sets $geometry.
await_window() {
  geometry=
  for _ in $(seq 300); do
    geometry=$(window_geometry "$1")
    [ -n "$geometry" ] && return 0
    sleep 0.1
  done
  return 1
}
background=$(import -window root "$work/empty.png" && pixel "$work/empty.png" 5 5)

make_project "$work/project" "${splash_element/time=\"2\"/time=\"6\"}$presetup_element" 150
build_package "$work/project/demo.xml" "$work/built" Setup
rm -f "$work/project/big.bin"
check "kxbuild builds the package with a splash and a presetup bitmap" [ -f "$setup" ]
[ -f "$setup" ] || { finish; exit; }
wine "$setup" >"$work/setup.log" 2>&1 &
setup_pid=$!

# Both windows are up while the big presetup file is extracted.
await_window KXPresetupWindow
presetup_at=$geometry
sleep 0.5
import -window root "$work/both-windows.png"
await_window KXSplashWindow
splash_at=$geometry
read -r sx sy sw sh <<<"${splash_at:-0 0 0 0}"
read -r px py pw ph <<<"${presetup_at:-0 0 0 0}"
echo "splash at $splash_at, presetup window at $presetup_at, root background $background"
check "the splash is centred on the screen" \
  [ "$sw" -eq 300 -a "$sx" -eq $(((1024 - 300) / 2)) -a "$sy" -eq $(((768 - 120) / 2)) ]
check "the presetup window sits 20 pixels from the bottom right corner" \
  [ "$pw" -eq 285 -a $((px + pw)) -eq $((1024 - 20)) -a $((py + ph)) -eq $((768 - 20)) ]
shot="$work/both-windows.png"
check "an opaque point of the splash shows its red" \
  [ "$(pixel "$shot" $((sx + 150)) $((sy + 60)))" = FF0000 ]
check "the splash's last column is part of it" \
  [ "$(pixel "$shot" $((sx + 299)) $((sy + 5)))" = FF0000 ]
check "a transparent point of the splash shows the screen behind it" \
  [ "$(pixel "$shot" $((sx + 5)) $((sy + 5)))" = "$background" ]
check "the presetup picture shows its navy" \
  [ "$(pixel "$shot" $((px + 200)) $((py + 20)))" = 0000A0 ]
check "the presetup picture's green part shows the screen behind it" \
  [ "$(pixel "$shot" $((px + 10)) $((py + 20)))" = "$background" ]
# The bar fills as the big file is extracted: its left part turns grey (by the screenshot above,
# or by a later one while the window is up).
bar_grey() { [ "$(pixel "$1" $((px + 48 + 4)) $((py + 143 + 8)))" = 636363 ]; }
grey=
bar_grey "$shot" && grey=1
for _ in $(seq 100); do
  [ -z "$grey" ] && [ -n "$(window_geometry KXPresetupWindow)" ] || break
  import -window root "$work/progress.png"
  bar_grey "$work/progress.png" && grey=1
done
check "the progress bar fills with its grey" [ -n "$grey" ]
# Wine gives a layered window's alpha to the X server as the window's opacity property; without a
# compositor the X server shows the window opaque, so the alpha is read from there.
splash_id=$(xdotool search --name '^KXSplashWindow$' | head -1)
opacity=$(xprop -id "$splash_id" _NET_WM_WINDOW_OPACITY 2>/dev/null)
echo "splash opacity: $opacity"
check "the splash is half transparent (alpha 128)" \
  [ "${opacity##*= }" = $((128 * 0x1010101)) ]

wait "$setup_pid"
code=$?
check "the run with windows succeeds" [ "$code" -eq 0 ]
check "no window is left" \
  [ -z "$(window_geometry KXSplashWindow)$(window_geometry KXPresetupWindow)" ]

# Without a presetup bitmap nor a splash: the dialog of the program's resources, centred.
make_project "$work/dialog" "" 150
build_package "$work/dialog/demo.xml" "$work/dialog-built" Setup
rm -f "$work/dialog/big.bin"
wine "$setup" >"$work/dialog-setup.log" 2>&1 &
setup_pid=$!
await_window 'Preparing "Setup" package\.\.\.'
read -r dx dy dw dh <<<"${geometry:-0 0 0 0}"
echo "presetup dialog at $geometry"
import -window root "$work/dialog.png"
check "the presetup dialog is titled with the package and centred" \
  [ "$dw" -gt 0 -a $((dx + dw / 2 - 512)) -le 8 -a $((512 - dx - dw / 2)) -le 8 ]
icon_points=$(convert "$work/dialog.png" -crop "60x${dh}+${dx}+${dy}" txt:- 2>/dev/null |
  grep -c '#2060C0')
check "the presetup dialog shows the program's icon ($icon_points points of its blue)" \
  [ "$icon_points" -ge 200 ]
wait "$setup_pid"
check "the run with the presetup dialog succeeds" [ $? -eq 0 ]
finish
