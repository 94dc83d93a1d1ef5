#!/usr/bin/env bash
# The uninstaller an installation leaves, in the cases where it must not simply remove
# everything: a file the user changed since, a shared file another installation still counts, a
# file in use, a user who says no, and an install log that is missing or damaged.
#   uninstall.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR [HOLDER]
# HOLDER (Wine) is the Windows program that holds a file open (FileHolder.c).
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$6 holder=${7:-}
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"
folder_name="Removal Product"
install_dir="$program_files/$folder_name"
product_key='HKCU\Software\Kx Demo\Removal Product'
entry_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KxRemoval'
shared_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
session_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
forget() {
  remove_installation "$install_dir" "$product_key" "$entry_key"
  kx reg del "$shared_key" "$shared_file" >/dev/null 2>&1
  kx reg del "$session_key" PendingFileRenameOperations >/dev/null 2>&1
}

# The demo under its own name, with a file it shares with other installations.
project="$work/project"
cp -r "$demo" "$project"
echo "shared by several products" >"$project/payload/app/common.txt"
sed -i -e "s|Demo Product|$folder_name|g" -e 's|KxDemo|KxRemoval|' \
  -e 's|<file src="readme.txt"|<file src="common.txt" dst="%InstallPath%\\common.txt" flags="shared"/>&|' \
  "$project/demo.xml"
build_package "$project/demo.xml" "$work/built" RemovalSetup
check "kxbuild builds the package" [ -f "$setup" ]
folder=$(kx reg get 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' ProgramFilesDir)"\\$folder_name"
shared_file="$folder\\common.txt"
log="$folder\\install.log"
uninstaller="$install_dir/Uninstall.exe"
forget

install() {
  forget
  run_setup "$setup" /s
  [ "$code" -eq 0 ] && [ -f "$uninstaller" ]
}
# The uninstaller as the uninstall entry starts it, with further switches; sets $out and $code.
uninstall() {
  if [ "$mode" = host ]; then
    run_setup "$uninstaller" "$log" "$@"
  else
    run_setup "$(windows_name "$uninstaller")" "$log" "$@"
  fi
  # Under Windows a copy of the program removes it once it has ended.
  [ "$code" -eq 0 ] || return 0
  for _ in $(seq 50); do [ -e "$uninstaller" ] || break; sleep 0.2; done
}
gone() { [ ! -e "$install_dir" ] && keys_absent "$entry_key" "$product_key"; }

# --- A file the user changed since the installation stays, and is named; the rest goes.
check "installs" install
sleep 1.1  # a later write time than the one recorded
echo "my own notes" >>"$install_dir/readme.txt"
uninstall
check "a changed file: exit 0" [ "$code" -eq 0 ]
check "a changed file: it stays, alone in its folder" \
  listing_is readme.txt "$(ls -A "$install_dir" 2>/dev/null)"
check "a changed file: it is named at the end" \
  bash -c 'grep -A1 -F "are kept:" <<<"$1" | grep -qxF "$2"' _ "$out" "$folder\readme.txt"
check "a changed file: the registry values and the uninstall entry are gone" \
  keys_absent "$product_key" "$entry_key"
rm -rf "$install_dir"

# --- A shared file: another installation counted it first; it stays with one count less.
forget
mkdir -p "$install_dir" && echo "shared by several products" >"$install_dir/common.txt"
kx reg set "$shared_key" "$shared_file" int 1 >/dev/null
run_setup "$setup" /s
check "the shared file counts 2 after the install" [ "$(kx reg get "$shared_key" "$shared_file")" = 2 ]
uninstall /s
check "a shared file: exit 0, and it stays with its count back at 1" \
  bash -c '[ "$1" -eq 0 ] && [ -f "$2" ] && [ "$3" = 1 ]' _ "$code" "$install_dir/common.txt" \
  "$(kx reg get "$shared_key" "$shared_file")"
check "a shared file: the rest is gone" \
  listing_is common.txt "$(ls -A "$install_dir" 2>/dev/null)"

# --- A file in use: the rest goes, it waits for the restart, and the user is told (a box: the
# text goes to standard error where no desktop is).
check "installs" install
hold_ready="$work/held.ready" hold_stop="$work/held.stop"
hold_open "$install_dir/bin/demo.dat" "$hold_ready" "$hold_stop" &
holder_pid=$!
for _ in $(seq 300); do [ -e "$hold_ready" ] && break; sleep 0.1; done
uninstall
touch "$hold_stop" && wait "$holder_pid"
check "a file in use: exit 0" [ "$code" -eq 0 ]
check "a file in use: the user is told it goes at the restart" \
  contains "they are removed when Windows restarts:"
check "a file in use: it is listed for deletion at the next start" \
  bash -c 'grep -qiF "bin\\demo.dat" <<<"$1"' _ "$(kx reg get "$session_key" PendingFileRenameOperations)"
check "a file in use: everything else is gone" \
  listing_is "bin/demo.dat" "$(cd "$install_dir" 2>/dev/null && find . -type f | cut -c3-)"
forget

# --- The user says no (host: the box's scripted answer): nothing is removed.
if [ "$mode" = host ]; then
  check "installs" install
  KX_MSGBOX_ANSWERS=7 uninstall
  check "the user says no: exit -1, and everything stays" \
    bash -c '[ "$1" -eq 255 ] && [ -f "$2/install.log" ] && [ -f "$2/readme.txt" ]' _ \
    "$code" "$install_dir"
fi

# --- A missing or damaged install log: said plainly, nothing removed.
check "installs" install
before=$(cd "$install_dir" && find . | sort | grep -v install.log)
mv "$install_dir/install.log" "$work/install.log"
uninstall /s "/log=$(windows_name "$work/missing.log")"
check "a missing install log: exit -1, said plainly, nothing removed" \
  bash -c '[ "$1" -eq 255 ] && grep -qF "cannot be read" "$2" && [ "$3" = "$4" ]' _ "$code" \
  "$work/missing.log" "$before" "$(cd "$install_dir" && find . | sort | grep -v install.log)"
head -c 2000 /dev/urandom >"$install_dir/install.log"
uninstall
check "a damaged install log: exit -1, said plainly, nothing removed" \
  bash -c '[ "$1" -eq 255 ] && grep -qF "is damaged" <<<"$2" && [ "$3" = "$4" ]' _ "$code" \
  "$out" "$before" "$(cd "$install_dir" && find . | sort | grep -v install.log)"
mv "$work/install.log" "$install_dir/install.log"
uninstall /s
check "the same log put back: everything goes" gone
forget
finish
