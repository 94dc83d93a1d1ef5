#!/usr/bin/env bash
# One project with every kind of item (tests/e2e/items), installed silently with the autopilot
# plug-in: each item is checked on the machine, and the install log is compared whole, every
# section and record, so that a record too many or too few fails.
#   items.sh host|wine ENGINE KXBUILD KXTOOL WORKDIR SERVER FONT [READER]
# SERVER is the recording test server, FONT a TrueType font, READER (wine) the program that reads
# shortcuts back through the system's shell-link object (LinkReader.c).
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 work=$5 items_server=$6 items_font=$7 reader=${8:-}
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"
source "$(dirname "$0")/items/prepare.sh"
server_calls() { server_calls_of "$(items_server_path)"; }
export KX_AUTOPILOT_TRACE=""

items_prepare "$work/project"
build_package "$work/project/items.xml" "$work/built" ItemsSetup
check "kxbuild builds the items project" [ -f "$setup" ]
items_reset
marks() { [ -f "$KX_ITEMS_MARKS" ] && tr -d '\r ' <"$KX_ITEMS_MARKS" | paste -sd, -; }

run_setup "$setup" /s
check "installs silently: exit 0" [ "$code" -eq 0 ]
check "no item is reported as failed or skipped" \
  bash -c '! grep -qiE "cannot install|error" <<<"$1"' _ "$out"

folder="$(kx reg get 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' ProgramFilesDir)\\Items Product"
install_dir=$(unix_name "$folder")
programs=$(items_shell_folder Programs)
desktop=$(items_shell_folder Desktop)
data="$(items_shell_folder AppData)\\Kx Items Data"
fonts_folder='C:\windows\Fonts'
product_key='HKCU\Software\Kx Items\Items Product'

# --- Files, the folders made for them, the programs around the installation.
check "the files are installed as packed" cmp "$work/project/payload/app/bin/helper.dat" \
  "$install_dir/bin/helper.dat"
check "the install folder and its subfolder are made" [ -d "$install_dir/bin" ]
check "the programs ran before and after the installation, once each" [ "$(marks)" = before,after ]

# --- Registry values of every kind, the keys made for them, the removed and overwritten ones.
check "a string value" [ "$(kx reg get "$product_key" InstallPath)" = "$folder" ]
check "a number" [ "$(kx reg dump "$product_key\\Settings" | grep '^"Count"')" = '"Count" int 42' ]
check "a binary value" [ "$(kx reg dump "$product_key\\Settings" | grep '^"Blob"')" = '"Blob" bin 00FF10A5' ]
check "a multi-string, one line a part" \
  [ "$(kx reg dump "$product_key\\Settings" | grep '^"Names"')" = '"Names" mstr "first\r\nsecond"' ]
check "the planted key: one value removed, the expandable one overwritten, the other kept" \
  [ "$(kx reg dump "$items_planted_key" | sort | paste -sd'|')" = \
    "\"Kept\" int 7|\"Path\" str \"$(sed 's/\\/\\\\/g' <<<"$folder")\\\\bin\"|[$items_planted_key]" ]

# --- INI values: the new file, the planted one with a key removed.
ini() { kx ini "$(windows_name "$(unix_name "$1")")" values "$2" | sed '$d' | paste -sd'|'; }
check "the new INI file holds its value" [ "$(ini "$folder\\settings.ini" Items)" = "Folder=$folder" ]
check "the planted INI file: a key removed, one changed, one kept" [ "$(ini "$data\\planted.ini" Old)" = "Keep=yes|Change=new" ]
check "the planted INI file: a section added" [ "$(ini "$data\\planted.ini" New)" = "Added=2.1" ]

# --- The shortcuts and their folder.
readme_link="$programs\\Items Product\\Read me.lnk"
settings_link="$desktop\\Items Helper.lnk"
check "the shortcuts' folder is made" [ -d "$(unix_name "$programs\\Items Product")" ]
if [ "$mode" = host ]; then
  link_target() { lnkinfo "$(unix_name "$1")" 2>/dev/null | tr -d '\r' | sed -n 's/^\tLocal path[ \t]*: //p'; }
else
  link_target() { run "$reader" "$1" 2>/dev/null | tr -d '\r' | sed -n 's/^target=//p'; }
fi
check "the first shortcut leads to the read-me" [ "$(link_target "$readme_link")" = "$folder\\readme.txt" ]
check "the second shortcut leads to a program file" \
  [ "$(link_target "$settings_link")" = "$folder\\bin\\helper.dat" ]

# --- The font, the server, the environment.
check "the font is in the fonts folder as packed" cmp "$items_font" "$(items_fonts_dir)/kxitemsfont.ttf"
check "the font is registered by its name" \
  [ "$(kx reg get "$items_fonts_key" "$items_font_name")" = kxitemsfont.ttf ]
check "the server was registered once" [ "$(server_calls)" = + ]
check "the environment variable is set for the user" \
  [ "$(kx reg dump 'HKCU\Environment' | grep '^"KX_ITEMS_HOME"')" = '"KX_ITEMS_HOME" str "C:\\Items Home"' ]

# --- The install log, whole.
log="$(windows_name "$install_dir/install.log")"
log_listing() {  # "section|key=value" per record, and "section|" per section
  local section
  kx ini "$log" sections | sed '$d' | while read -r section; do
    echo "$section|"
    kx ini "$log" values "$section" | sed '$d' | sed "s/^/$section|/"
  done | sed -E 's/^(FileTimes\|[^=]*=)[0-9]{17,}$/\1TIME/' | sort
}
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
# The planted INI file is the user's: the run records it for rollback only, and the key it had
# before is not the uninstaller's. The environment variable the run made is. Each file's write
# time is kept for the uninstaller (the times themselves vary).
mark=$(windows_name "$work/progs/mark$([ "$mode" = host ] && echo .exe || echo .bat)")
expected_log=$(sort <<EOF2
Strings|
Strings|AppID=KxItems
Display|
Display|Charset=0
Display|DialogTitleFont=
CreateKeys|
CreateKeys|$uninstall_key\KxItems=
CreateKeys|HKCU\Software\Kx Items=
CreateKeys|$product_key=
CreateKeys|$product_key\Settings=
CreateDirs|
CreateDirs|$folder=
CreateDirs|$folder\bin=
CreateDirs|$programs\Items Product=
CopyFiles|
CopyFiles|$folder\readme.txt=
CopyFiles|$folder\bin\demo.dat=
CopyFiles|$folder\bin\helper.dat=
CopyFiles|$folder\bin\recorder.dll=
CopyFiles|$fonts_folder\kxitemsfont.ttf=
CopyFiles|$folder\settings.ini=
RegServers|
RegServers|$folder\bin\recorder.dll=
RegFonts|
RegFonts|$items_font_name=$fonts_folder\kxitemsfont.ttf
AddReg|
AddReg|$product_key\'InstallPath'=
AddReg|$product_key\Settings\'Count'=
AddReg|$product_key\Settings\'Blob'=
AddReg|$product_key\Settings\'Names'=
AddReg|HKCU\Environment\'KX_ITEMS_HOME'=
FileTimes|
FileTimes|$folder\readme.txt=TIME
FileTimes|$folder\bin\demo.dat=TIME
FileTimes|$folder\bin\helper.dat=TIME
FileTimes|$folder\bin\recorder.dll=TIME
FileTimes|$fonts_folder\kxitemsfont.ttf=TIME
FileTimes|$folder\settings.ini=TIME
PreRunApp|
PreRunApp|0='$mark','unbefore','',1,'',1,1
RunApp|
RunApp|1='$mark','unafter','',1,'',1,0
AddIni|
AddIni|'$data\planted.ini','New','Added'=
AddIni|'$folder\settings.ini','Items','Folder'=
Shortcuts|
Shortcuts|$readme_link=
Shortcuts|$settings_link=
EOF2
)
check "the install log: every change of the run, and nothing else" \
  listing_is "$expected_log" "$(log_listing)"

# The suite's Wine machine is shared: the project leaves nothing behind.
items_reset
items_kx reg del "$items_planted_key" >/dev/null
rm -rf "$(unix_name "$data")"
finish
