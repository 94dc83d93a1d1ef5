# The items project's preparation, shared by items.sh and the rollback sweep (sourced, with
# $mode, $work, $kxtool and the functions run and windows_name set, and KX_ROOT on the host).
#   items_server, items_font: the recording server library and a TrueType font to pack.
# Defines items_prepare (a copy of the project made buildable), items_reset (the machine without
# the project's traces, with what the project expects to find planted) and the names below.
items_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
items_app_id=KxItems
items_fonts_key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts'
items_font_name='KxItems DejaVu Sans (TrueType)'
items_planted_key='HKCU\Software\Kx Items Planted'
items_shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
# The programs around the installation mark this file, outside anything the sweep watches.
export KX_ITEMS_MARKS="$work/marks.txt"

items_kx() { run "$kxtool" "$@" 2>/dev/null | tr -d '\r'; }
# A path of the machine (C:\...) as a path of this system.
items_unix() {
  if [ "$mode" = host ]; then
    local path=${1//\\//}
    echo "$KX_ROOT/drive_c${path:2}"
  else
    winepath -u "$1" 2>/dev/null
  fi
}
# Where the server is installed: its record of calls goes by this name under Wine.
items_server_path() {
  echo "$(items_kx reg get 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' ProgramFilesDir)\\Items Product\\bin\\recorder.dll"
}
# The system's font folder, whatever case the machine gave its name.
items_fonts_dir() {
  local windows
  windows=$(items_unix 'C:\windows')
  find "$windows" -maxdepth 1 -iname fonts -type d | head -1
}
items_shell_folder() { items_kx reg get "$items_shell_folders" "$1"; }

# The project in FOLDER: its file (the programs filled in), the demo's payload, the font, the
# server; the programs themselves go to $work/progs.
items_prepare() {  # folder
  local project=$1 mark
  mkdir -p "$project" "$work/progs"
  cp "$items_here/items.xml" "$items_here/autopilot.ini" "$project/"
  cp -r "$items_here/../../../samples/demo/payload" "$project/payload"
  mkdir -p "$project/payload/app/fonts"
  cp "$items_font" "$project/payload/app/fonts/kxitemsfont.ttf"
  cp "$items_server" "$project/payload/app/bin/recorder.dll"
  if [ "$mode" = host ]; then
    # A shell script named like a program: the host engine starts it directly.
    mark="$work/progs/mark.exe"
    printf '#!/bin/sh\necho "$1" >>"$KX_ITEMS_MARKS"\n' >"$mark"
    chmod +x "$mark"
  else
    mark="$work/progs/mark.bat"
    printf '@echo %%1>>"%s"\r\n' "$(windows_name "$KX_ITEMS_MARKS")" >"$mark"
  fi
  sed -i "s|@MARK@|$(windows_name "$mark" | sed 's/[\\&|]/\\&/g')|" "$project/items.xml"
}

# Takes away whatever an install of the project left and plants what it expects to find: a key
# with a value it removes and an expandable one it overwrites, and an INI file it edits.
items_reset() {
  local key install data fonts start desktop
  install=$(items_unix "$(items_kx reg get 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' ProgramFilesDir)\\Items Product")
  data=$(items_unix "$(items_shell_folder AppData)\\Kx Items Data")
  fonts=$(items_fonts_dir)
  start=$(items_unix "$(items_shell_folder Programs)\\Items Product")
  desktop=$(items_unix "$(items_shell_folder Desktop)\\Items Helper.lnk")
  for key in 'HKCU\Software\Kx Items' "$items_planted_key" \
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$items_app_id" \
    "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$items_app_id"; do
    items_kx reg del "$key" >/dev/null
  done
  items_kx reg del "$items_fonts_key" "$items_font_name" >/dev/null
  items_kx reg del 'HKCU\Environment' KX_ITEMS_HOME >/dev/null
  items_kx reg del 'HKCU\Software\KxTests\RecordingServer' "$(items_server_path)" >/dev/null
  rm -rf "${install:?}" "${data:?}" "${start:?}" "$desktop" "$fonts"/kxitemsfont*.ttf
  rm -f "$KX_ITEMS_MARKS"
  items_kx reg set "$items_planted_key" Obsolete str 'to be removed' >/dev/null
  items_kx reg set "$items_planted_key" Path expand '%SystemRoot%\Items' >/dev/null
  items_kx reg set "$items_planted_key" Kept int 7 >/dev/null
  mkdir -p "$data"
  printf '%s\r\n' '[Old]' 'Keep=yes' 'Drop=gone' 'Change=old' >"$data/planted.ini"
  touch -d 2020-02-02 "$data/planted.ini"
}
