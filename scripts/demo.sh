#!/usr/bin/env bash
# The main job: builds everything, makes a small package from the test fixtures (the engine, a
# cabinet made by gcab, the package trailer) and runs it, natively and as a Windows program under
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
bash tests/unpack/make_cabinets.sh "$work/cabinets" >/dev/null
cabinet=$work/cabinets/plain.cab
echo "== cabinet: $(gcab -t "$cabinet" | tr '\n' ' ')"

# A package is the engine, the cabinet and the trailer: built size, presetup size, data size,
# then the marker.
make_package() {  # engine, output
  cp "$1" "$2"
  cat "$cabinet" >>"$2"
  local size
  size=$(stat -c %s "$2")
  perl -e 'print pack("VVV", $ARGV[1], $ARGV[0], 0), "KXPEND"' \
    "$(awk -F'\t' '{ s += $2 } END { print s }' "$work/cabinets/manifest.txt")" \
    $((size + 18)) >>"$2"
  echo "== package $(basename "$2"): $(stat -c %s "$2") bytes"
}

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

echo "== Linux engine"
make_package build/host/bin/kxsetup "$work/demo-setup"
mkdir -p "$work/tmp"
KX_ROOT=$work/machine TMPDIR=$work/tmp show_run "$work/tmp" "$work/demo-setup"

echo "== Windows engine under Wine"
make_package build/win64/bin/kxsetup.exe "$work/demo-setup.exe"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all
unset DISPLAY
wineboot -i >/dev/null 2>&1
wineserver -w
wine_temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
mkdir -p "$wine_temp"
show_run "$wine_temp" wine "$work/demo-setup.exe"
wineserver -k || true
echo "== the engine wrote and loaded its unpack library, extracted the presetup files of the"
echo "   package and stopped where the project database is needed: that comes next."
