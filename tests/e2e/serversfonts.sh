#!/usr/bin/env bash
# The demo project with a TrueType font and a COM server of the tests' own (it records each
# registration), installed silently with the autopilot plug-in: the font lands in the system's
# font folder and is registered under the fonts key, the server is registered, and the install
# log lists both. Then the same project with a broken font beside the good one: the run fails at
# the font phase, and rollback takes the font away again and unregisters the server.
#   serversfonts.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR SERVER FONT
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$6 server=$7 font=$8
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"
server_calls() { server_calls_of "$server_path"; }

export KX_AUTOPILOT_TRACE=""
install_dir="$program_files/Demo Product"
folder='C:\Program Files\Demo Product'
server_path="$folder\\bin\\recorder.dll"
fonts_key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts'
font_name='KxTest DejaVu Sans'
# A file of the system's font folder, whatever case the machine gave the folder's name.
fonts_file() { find "$drive_c" -maxdepth 3 -ipath "$drive_c/windows/fonts/$1" 2>/dev/null; }

# What an earlier run on this machine (Wine's prefix is the suite's) left would not be ours.
clean_machine() {
  kx reg del "$fonts_key" "$font_name (TrueType)" >/dev/null 2>&1
  kx reg del 'HKCU\Software\KxTests\RecordingServer' >/dev/null 2>&1
  kx reg del 'HKCU\Software\Kx Demo' >/dev/null 2>&1
  kx reg del 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KxDemo' >/dev/null 2>&1
  rm -f $(fonts_file kxtestfont.ttf) $(fonts_file kxbroken.ttf)
  rm -rf "$install_dir"
  [ "$mode" = host ] && rm -f "$KX_TEST_SERVER_CALLS"
  return 0
}

# The demo with the font and the server in its program component; extra: more file items.
make_project() {  # name, extra file items
  local project="$work/$1-project"
  cp -r "$demo" "$project"
  mkdir -p "$project/payload/app/fonts"
  cp "$font" "$project/payload/app/fonts/kxtestfont.ttf"
  printf 'no font at all' >"$project/payload/app/fonts/kxbroken.ttf"
  cp "$server" "$project/payload/app/bin/recorder.dll"
  sed -i "s|<file src=\"readme.txt\" dst=\"%InstallPath%\\\\readme.txt\"/>|&\\
        <file src=\"fonts\\\\kxtestfont.ttf\" dst=\"%Fonts%\\\\kxtestfont.ttf\" flags=\"reg_font\"/>$2\\
        <file src=\"bin\\\\recorder.dll\" dst=\"%InstallPath%\\\\bin\\\\recorder.dll\" flags=\"reg_server\"/>|" \
    "$project/demo.xml"
  sed -i "s|<plugins><plugin id=\"autopilot\" configfile=\"autopilot.ini\"/></plugins>|&\\
      <fileinfos>\\
        <fileinfo name=\"app\\\\fonts\\\\kxtestfont.ttf\" fontname=\"$font_name\"/>\\
        <fileinfo name=\"app\\\\fonts\\\\kxbroken.ttf\" fontname=\"KxTest Broken\"/>\\
      </fileinfos>|" "$project/demo.xml"
  build_package "$project/demo.xml" "$work/$1-built" DemoSetup
  check "$1: kxbuild builds the project" [ -f "$setup" ]
}

log_section() { kx ini "$(windows_name "$install_dir/install.log")" values "$1" | sed '$d'; }

# --- The font and the server install and are recorded.
clean_machine
make_project good ""
run_setup "$setup" /s
check "installs silently: exit 0" [ "$code" -eq 0 ]
check "the font is in the fonts folder as packed" cmp "$font" "$(fonts_file kxtestfont.ttf)"
check "the font is registered by its name, as a file of the fonts folder" \
  [ "$(kx reg get "$fonts_key" "$font_name (TrueType)")" = kxtestfont.ttf ]
check "the server was registered once" [ "$(server_calls)" = + ]
check "the install log lists the font" \
  [ "$(log_section RegFonts)" = "$font_name (TrueType)=C:\\windows\\Fonts\\kxtestfont.ttf" ]
check "the install log lists the server" [ "$(log_section RegServers)" = "$server_path=" ]
check "fonts and servers are not reported as skipped" \
  bash -c '! grep -q "cannot install \(fonts\|COM servers\)" <<<"$0"' "$out"

# --- A broken font fails the run: everything is rolled back, the server unregistered.
clean_machine
make_project broken "\\
        <file src=\"fonts\\\\kxbroken.ttf\" dst=\"%Fonts%\\\\kxbroken.ttf\" flags=\"reg_font\"/>"
run_setup "$setup" /s
check "a broken font fails the run" [ "$code" -ne 0 ]
check "its message names the font" contains 'Can not register font "KxTest Broken"!'
check "rollback unregisters the server it registered" [ "$(server_calls)" = +- ]
check "rollback removes the installed font" [ -z "$(fonts_file kxtestfont.ttf)" ]
check "rollback removes the font's registration" \
  [ -z "$(kx reg get "$fonts_key" "$font_name (TrueType)" 2>/dev/null)" ]
check "rollback leaves no install folder" [ ! -e "$install_dir" ]

clean_machine
finish
