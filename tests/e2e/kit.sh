#!/usr/bin/env bash
# The vendor's kit as a vendor gets it: installed with `cmake --install` into a fresh prefix, it
# builds the demo from a folder outside the source tree with nothing named but the project, and
# the setup it makes installs; --languages and --sign work on the installed kxbuild.
#   kit.sh BUILD_DIR DEMO_DIR WORKDIR
set -u
build=$1 demo=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"

prefix=$work/kit
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
check "cmake --install installs the kit" [ $? -eq 0 ]
for file in bin/kxbuild bin/kxtool lib/kxsetup/host/kxsetup lib/kxsetup/host/Uninstall.exe \
  lib/kxsetup/host/plugins/autopilot.dll share/kxsetup/lng/ENU.lng include/kxsetup/kxplugin.h; do
  check "the kit holds $file" [ -s "$prefix/$file" ]
done
check "the kit's stub has no symbols" \
  bash -c "! readelf -S '$prefix/lib/kxsetup/host/kxsetup' | grep -q '\.symtab'"

# The vendor's folder: the demo project, away from the source and build trees.
vendor=$work/vendor
cp -r "$demo" "$vendor"
cd "$vendor" || exit 1
export KX_ROOT="$work/machine" TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
"$prefix/bin/kxbuild" demo.xml -o DemoSetup >"$work/kxbuild.log" 2>&1
check "the installed kxbuild builds the demo outside the source tree" [ -f DemoSetup ]
sed 's/^/    /' "$work/kxbuild.log"
installed="$KX_ROOT/drive_c/Program Files/Demo Product"
chmod +x DemoSetup
./DemoSetup /s >"$work/setup.log" 2>&1
check "the setup made with the kit installs silently: exit 0" [ $? -eq 0 ]
check "the setup made with the kit installs the demo's files" \
  cmp "$vendor/payload/app/readme.txt" "$installed/readme.txt"
check "the setup made with the kit deploys its uninstaller" [ -f "$installed/Uninstall.exe" ]

# --languages replaces the kit's language files.
mkdir -p "$work/lng"
cp "$prefix/share/kxsetup/lng/ENU.lng" "$work/lng/ENU.lng"
cp "$prefix/share/kxsetup/lng/ENU.lng" "$work/lng/XYZ.lng"
"$prefix/bin/kxbuild" demo.xml -o Languages --languages "$work/lng" >/dev/null 2>&1
entries() { "$prefix/bin/kxtool" inspect "$1" 2>/dev/null | tr -d '\r'; }
check "--languages packs the folder's language files" bash -c "$(declare -f entries); \
  prefix='$prefix'; entries Languages | grep -qi 'lng.XYZ.lng'"
check "without --languages the kit's own files are packed" bash -c "$(declare -f entries); \
  prefix='$prefix'; ! entries DemoSetup | grep -qi 'lng.XYZ.lng'"
"$prefix/bin/kxbuild" demo.xml -o NoLanguages --languages "$work/missing" >"$work/nolng.log" 2>&1
check "--languages naming no folder fails the build" [ $? -eq 2 ]
check "... and says which folder" grep -q "missing does not exist" "$work/nolng.log"

# --sign: the command gets the package's name for "{}"; what it appends stays a package.
"$prefix/bin/kxbuild" demo.xml -o "Signed Setup" --sign "printf signature >> {}" \
  >"$work/sign.log" 2>&1
check "--sign: a command that appends builds the package" [ -f "Signed Setup" ]
check "--sign: the command ran on the package" bash -c "tail -c 9 'Signed Setup' | grep -q signature"
chmod +x "Signed Setup"
rm -rf "$installed"
"./Signed Setup" /s >/dev/null 2>&1
check "--sign: the signed package installs" [ -f "$installed/readme.txt" ]
# A command that fails, and one whose tail takes the trailer out of the engine's reach: no
# package is left, and the message says why.
cp DemoSetup Previous && cp DemoSetup Kept
sign_fails() {  # output, command, expected message
  "$prefix/bin/kxbuild" demo.xml -o "$1" --sign "$2" >"$work/signfail.log" 2>&1
  local code=$?
  [ "$code" -eq 2 ] && grep -q "$3" "$work/signfail.log" && cmp -s "$1" Previous &&
    [ -z "$(ls | grep kxbuild-)" ]
}
check "--sign: a failing command fails the build and keeps the previous package" \
  sign_fails Kept "false" "The signing command failed"
check "--sign: a tail beyond 64 KiB fails the build" \
  sign_fails Kept "head -c 70000 /dev/zero >>" "not within the last 64 KiB"
check "--sign: a command that rewrites the package fails the build" \
  sign_fails Kept "truncate -s -1" "refuse"
finish
