#!/usr/bin/env bash
# The main job: builds everything, makes the demo setup of samples/demo with kxbuild (a main
# package and the further package docs.kxp) and runs it, natively and as a Windows program under
# Wine, saying what happened at each step.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=${KX_JOBS:-$(nproc)}
for preset in host win32 win64; do
  echo "== building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" >/dev/null
done

work=$PWD/build/demo
rm -rf "$work" && mkdir -p "$work"

show_run() {  # temp folder, command...
  local temp=$1 before out code
  shift
  before=$(ls -A "$temp" | wc -l)
  set +e
  out=$("$@" 2>&1)
  code=$?
  set -e
  echo "   engine said: ${out:-nothing}"
  echo "   exit code: $code (255 is -1)"
  echo "   temporary folders left behind: $(($(ls -A "$temp" | wc -l) - before))"
}

show_installed() {  # install folder, command that runs kxtool
  local folder=$1
  shift
  echo "   installed files:"
  (cd "$folder" 2>/dev/null && find . -type f | sort | sed 's/^\./      /') || echo "      none"
  echo "   registry values of the demo and its uninstall entry:"
  for key in 'HKCU\Software\Kx Demo' \
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KxDemo'; do
    "$@" reg dump "$key" 2>/dev/null | tr -d '\r' | sed 's/^/      /' || true
  done
  echo "   shortcuts made (as the install log lists them):"
  tr -d '\r' <"$folder/install.log" 2>/dev/null |
    sed -n '/^\[Shortcuts\]/,/^\[/{/^[^[]/s/=$//p}' | sed 's/^/      /'
  echo "   the install log, for the uninstaller (its sections):"
  grep '^\[' "$folder/install.log" 2>/dev/null | tr -d '\r' | tr '\n' ' ' | sed 's/^/      /'
  echo
}

show_trace() {  # the autopilot's trace file
  if [ -s "$1" ]; then
    echo "   autopilot traced $(wc -l <"$1") events: $(sed -n 's/.*"event":"\([^"]*\)".*/\1/p' "$1" |
      tr '\n' ' ')"
  else
    echo "   autopilot wrote no trace (no plug-in was loaded)"
  fi
}

# A file changed behind the installer's back (same size and time, which a plain run would keep)
# and one deleted: what a repair must put right.
damage() {  # install folder
  cp -p "$1/readme.txt" "$work/readme.installed"
  tr 'a-z' 'A-Z' <"$work/readme.installed" >"$1/readme.txt"
  touch -r "$work/readme.installed" "$1/readme.txt"
  rm -f "$1/bin/demo.dat"
  echo "   readme.txt changed (same size and time), bin/demo.dat deleted"
}
show_repaired() {  # install folder
  if cmp -s "$1/readme.txt" "$work/readme.installed"; then
    echo "   readme.txt is as installed again"
  else
    echo "   readme.txt is NOT as installed"
  fi
  if [ -f "$1/bin/demo.dat" ]; then echo "   bin/demo.dat is back"; else echo "   bin/demo.dat is missing"; fi
}

echo "== Linux: kxbuild samples/demo/demo.xml"
build/host/bin/kxbuild samples/demo/demo.xml -o "$work/linux/DemoSetup" --target host \
  --stub build/host/bin/kxsetup | sed 's/^/   /'
chmod +x "$work/linux/DemoSetup"
echo "== kxtool inspect: the package as the engine will see it (trailer and entries)"
KX_ROOT=$work/machine build/host/bin/kxtool inspect "$work/linux/DemoSetup" |
  sed -n '/^file size/,/^--- main.pdb/p' | sed '$d; s/^/   /'
echo "== Linux engine, silent"
mkdir -p "$work/tmp"
# The demo carries the autopilot plug-in, which writes each event it receives here.
KX_AUTOPILOT_TRACE=$work/autopilot-linux.jsonl KX_ROOT=$work/machine TMPDIR=$work/tmp \
  show_run "$work/tmp" "$work/linux/DemoSetup" /s
show_trace "$work/autopilot-linux.jsonl"
linux_installed="$work/machine/drive_c/Program Files/Demo Product"
KX_ROOT=$work/machine show_installed "$linux_installed" build/host/bin/kxtool
echo "== Linux engine, repair: DemoSetup /repair KxDemo (silent, from the settings the install stored)"
damage "$linux_installed"
KX_ROOT=$work/machine TMPDIR=$work/tmp show_run "$work/tmp" "$work/linux/DemoSetup" /repair KxDemo
show_repaired "$linux_installed"

echo "== Windows: kxbuild samples/demo/demo.xml (win64 engine)"
build/host/bin/kxbuild samples/demo/demo.xml -o "$work/windows/DemoSetup.exe" --target win64 \
  --stub build/win64/bin/kxsetup.exe | sed 's/^/   /'
echo "== Windows engine under Wine, silent"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all
unset DISPLAY
wineboot -i >/dev/null 2>&1
wineserver -w
wine_temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
mkdir -p "$wine_temp"
KX_AUTOPILOT_TRACE=$(winepath -w "$work/autopilot-windows.jsonl" 2>/dev/null) \
  show_run "$wine_temp" wine "$work/windows/DemoSetup.exe" /s
show_trace "$work/autopilot-windows.jsonl"
windows_installed="$WINEPREFIX/drive_c/Program Files/Demo Product"
show_installed "$windows_installed" wine build/win64/bin/kxtool.exe
echo "== Windows engine under Wine, repair: DemoSetup.exe /repair KxDemo"
damage "$windows_installed"
show_run "$wine_temp" wine "$work/windows/DemoSetup.exe" /repair KxDemo
show_repaired "$windows_installed"
wineserver -k || true
echo "== the engine checked and prepared both packages, read their databases and the project,"
echo "   chose the language and the install type, installed the files, registry and INI values"
echo "   and the shortcut, and wrote the install log and the uninstall entry; the repair put"
echo "   back what was changed or deleted, from the settings the install had stored."
