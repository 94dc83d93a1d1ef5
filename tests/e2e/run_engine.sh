#!/usr/bin/env bash
# Runs the engine program as a user would, on packages kxbuild made of the demo project, and
# checks what it says and what it leaves behind.
#   run_engine.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR [HOLDER]
# host: the Linux engine, kxbuild and kxtool, with their own machine root and temporary folder.
# wine: the Windows programs under Wine ($WINEPREFIX must be initialised); HOLDER is the Windows
# program that holds a file open (FileHolder.c).
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$6 holder=${7:-}
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"
setup_name=DemoSetup$exe
if [ "$mode" = host ]; then
  short_date() { date +%m/%d/%Y; }  # the host's short date format
else
  short_date() { wine cmd /c echo %DATE% 2>/dev/null | tr -d '\r'; }  # as Windows writes it
fi

# Each run: the program, its arguments; sets $out (standard error and output) and $code.
run_engine() {
  local before
  before=$(ls -A "$temp_dir" | sort)
  out=$(run "$@" 2>&1)
  code=$?
  out=${out//$'\r'/}
  leftover=$(comm -13 <(echo "$before") <(ls -A "$temp_dir" | sort))
  echo "--- $(basename "$1") ${*:2}: exit $code"
  echo "$out" | sed 's/^/    /'
}

size_of() { stat -c %s "$1"; }
overwrite_at() { printf '%s' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
# The silent demo installed: exit 0, and the program's files in the install folder.
install_dir="$program_files/Demo Product"
installed() { [ "$code" -eq 0 ] && [ -f "$install_dir/readme.txt" ] && [ -f "$install_dir/install.log" ]; }

# --- The demo project with a payload big enough that its data spans several archive blocks.
project="$work/project"
cp -r "$demo" "$project"
head -c 300000 /dev/urandom >"$project/payload/app/bin/zlast.dat"
# The engine's English texts with sections of the uninstaller's, which the run copies into the
# install log (one not of the uninstaller's, by its name).
{ cat "$demo/../../lng/ENU.lng"
  printf '%s\r\n' "" "[Uninstall.Strings]" "Title=Remove %AppName%" \
    "Question=Remove %AppName% %AppVersion% and all its parts?||Files you made stay." "" \
    "[uninstall.Finish]" "Done=%AppName% is removed." "" "[UninstallTips]" "Tip=Not for the log"
} >"$project/ENU.lng"
sed -i 's|<presetup src="license.txt"/>|&<language src="ENU.lng"/>|' "$project/demo.xml"
# Every setting the uninstall entry can show, one of them through another variable.
sed -i 's|<var name="Uninstall" value="1"/>|&\
    <var name="AppIcon" value="%InstallPath%\\bin\\demo.dat"/>\
    <var name="AppHomeURL" value="https://demo.example/"/>\
    <var name="AppSupportContact" value="Demo Support"/>\
    <var name="AppSupportURL" value="https://demo.example/help"/>\
    <var name="AppSupportPhone" value="555 0100"/>\
    <var name="AppReadme" value="readme.txt"/>\
    <var name="AppUpdateURL" value="https://demo.example/update"/>\
    <var name="AppComments" value="The demonstration"/>|' "$project/demo.xml"
built="$work/built"
mkdir -p "$built"
run "$kxbuild" "$(windows_name "$project/demo.xml")" -o "$(windows_name "$built/$setup_name")" \
  --target "$target" --stub "$(windows_name "$engine")" >"$work/kxbuild.log" 2>&1
check "kxbuild builds the main package" [ -f "$built/$setup_name" ]
check "kxbuild builds the further package" [ -f "$built/docs.kxp" ]
chmod +x "$built/$setup_name"

# Every case runs from a fresh copy of the built packages in a folder of its own.
fresh_copy() {  # case name; sets $dir and $setup
  dir="$work/$1"
  rm -rf "$dir" && cp -r "$built" "$dir"
  setup="$dir/$setup_name"
}

# --- A bare engine carries no package: the check finds no trailer.
cp "$engine" "$work/bare-$setup_name"
run_engine "$work/bare-$setup_name" /s
check "bare engine fails with exit code -1" [ "$code" -eq 255 ]
check "bare engine is an invalid package" contains "Invalid package size!"
check "bare engine removes its temporary folder" [ -z "$leftover" ]

# --- The demo as built: main package and the further package docs.kxp of the default type. Its
# plug-in, autopilot, answers for the user and writes each event it receives to a trace.
fresh_copy plain
export KX_AUTOPILOT_TRACE
KX_AUTOPILOT_TRACE=$(windows_name "$work/plain.jsonl")
rm -rf "$install_dir"
folder='C:\Program Files\Demo Product'
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
# Keys of an earlier run (Wine's machine is the test suite's) would not be the run's to log.
kx reg del 'HKCU\Software\Kx Demo' >/dev/null 2>&1
kx reg del "$uninstall_key\KxDemo" >/dev/null 2>&1
programs=$(kx reg get 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' Programs)
link="$programs\Demo Product\Read me.lnk"
[ -n "$programs" ] && rm -rf "$(unix_name "$programs\Demo Product")"
run_engine "$setup" /s
check "the demo installs silently: exit 0" [ "$code" -eq 0 ]
check "the demo's files are installed as packed" \
  cmp "$project/payload/app/bin/zlast.dat" "$install_dir/bin/zlast.dat"
check "the further package's files are installed in their subfolders" \
  cmp "$project/payload/docs/guide/chapter1.txt" "$install_dir/docs/guide/chapter1.txt"
check "the INI value is written" grep -q '^Language=ENU' "$install_dir/demo.ini"
check "the demo's shortcut is made in the user's programs menu" [ -s "$(unix_name "$link")" ]
check "demo package removes its temporary folder" [ -z "$leftover" ]

# What the uninstaller and the system's list of programs are left, read as they read it: the
# install log, the uninstall entry and the silent settings for a repair, each listing whole and
# sorted, against what the demo project gives.
log_section() { kx ini "$(windows_name "$install_dir/install.log")" values "$1" | sed '$d'; }
log_listing() {  # "section|key=value" per record, and "section|" per section
  local section
  for section in $(kx ini "$(windows_name "$install_dir/install.log")" sections | sed '$d'); do
    echo "$section|"
    log_section "$section" | sed "s/^/$section|/"
  done | sed -E 's/^(FileTimes\|[^=]*=)[0-9]{17,}$/\1TIME/' | sort
}
with_sections() { { echo "$1"; cut -d'|' -f1 <<<"$1" | sed 's/$/|/'; } | sort -u; }
xml_listing() {  # each element of the file with its path and attributes
  python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
def show(element, path):
    attributes = " ".join(f'{name}="{value}"' for name, value in sorted(element.attrib.items()))
    print(f"{path}{element.tag} {attributes}".rstrip())
    for child in element:
        show(child, f"{path}{element.tag}/")
show(ET.parse(sys.argv[1]).getroot(), "")
PY
}
expected_log=$(cat <<EOF
Strings|AppID=KxDemo
Strings|Title=Remove Demo Product
Strings|Question=Remove Demo Product 1.0 and all its parts?||Files you made stay.
Finish|Done=Demo Product is removed.
Display|Charset=0
Display|DialogTitleFont=
CreateKeys|$uninstall_key\KxDemo=
CreateKeys|HKCU\Software\Kx Demo=
CreateKeys|HKCU\Software\Kx Demo\Demo Product=
CreateDirs|$folder=
CreateDirs|$programs\Demo Product=
Shortcuts|$link=
CreateDirs|$folder\bin=
CreateDirs|$folder\docs=
CreateDirs|$folder\docs\guide=
CopyFiles|$folder\readme.txt=
CopyFiles|$folder\demo.ini=
CopyFiles|$folder\bin\demo.dat=
CopyFiles|$folder\bin\helper.dat=
CopyFiles|$folder\bin\zlast.dat=
CopyFiles|$folder\docs\manual.txt=
CopyFiles|$folder\docs\guide\chapter1.txt=
AddReg|HKCU\Software\Kx Demo\Demo Product\'InstallPath'=
AddReg|HKCU\Software\Kx Demo\Demo Product\'Runs'=
AddIni|'$folder\demo.ini','Demo','Language'=
EOF
)
# Each installed file's write time, for the uninstaller to tell a file the user changed since.
expected_log+=$'\n'$(sed -n 's/^CopyFiles|\(.*\)=$/FileTimes|\1=TIME/p' <<<"$expected_log")
check "the install log: the uninstaller's settings and texts, and every change of the run" \
  listing_is "$(with_sections "$expected_log")" "$(log_listing)"
expected_entry=$(while IFS='|' read -r name text; do
  printf '"%s" str "%s"\n' "$name" "$(sed 's/[\\"]/\\&/g' <<<"$text")"
done <<EOF
DisplayName|Demo Product
UninstallString|"$folder\Uninstall.exe" "$folder\install.log"
InstallLocation|$folder
InstallSource|$(windows_name "$dir")
InstallSourceFile|$(windows_name "$setup")
InstallDate|$(short_date)
DisplayIcon|$folder\bin\demo.dat
Publisher|Kx Demo
URLInfoAbout|https://demo.example/
DisplayVersion|1.0
Contact|Demo Support
HelpLink|https://demo.example/help
HelpTelephone|555 0100
Readme|readme.txt
URLUpdateInfo|https://demo.example/update
Comments|The demonstration
SilentSettings|$folder\install.sss
QuietUninstallString|"$folder\Uninstall.exe" "$folder\install.log" /s
EOF
)
# The size the system's list shows: the installed files' KiB, rounded up.
installed_bytes=$(($(log_section CopyFiles | sed 's/=$//' | while read -r file; do
  stat -c %s "$(unix_name "$file")"; done | paste -sd+ -)))
expected_entry+=$'\n'"\"EstimatedSize\" int $(((installed_bytes + 1023) / 1024))"
expected_entry+=$'\n''"NoModify" int 1'$'\n''"NoRepair" int 1'
check "the uninstall entry: every value the project gives, and no other" \
  listing_is "$(echo "[$uninstall_key\KxDemo]"$'\n'"$expected_entry" | sort)" \
  "$(kx reg dump "$uninstall_key\KxDemo" | sort)"
check "the silent settings: the user's choices, without the project's own settings" \
  listing_is "$(sort <<'EOF'
silentsettings activeinstalltype="full"
silentsettings/features
silentsettings/features/feature id="main"
silentsettings/features/feature id="help"
silentsettings/variables
silentsettings/variables/var name="InstallPath" value="%ProgramFiles%\Demo Product"
silentsettings/variables/var name="LangID" value="ENU"
EOF
)" "$(xml_listing "$install_dir/install.sss" | sort)"

# The trace's events in the order received, one line each: name, first parameter, thread. The
# events the selection of features and install types causes are left out, and with "lists" the
# events of single items too, while the list events carry their list ("EV_BEFOREPROCESSITEMS:ini").
trace_events() {  # trace file [lists]
  python3 - "$@" <<'PY'
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1])]
lists = len(sys.argv) > 2
items = ("EV_BEFOREPROCESSITEM", "EV_AFTERPROCESSITEM", "EV_PROCESSITEM", "EV_FILEINSTALLPROGRESS")
for e in sorted(lines, key=lambda e: e["seq"]):
    if e["event"] in ("EV_FEATURESTATECHANGED", "EV_INSTALLTYPECHANGED"):
        continue
    if lists and e["event"] in items:
        continue
    name = e["event"]
    if lists and name.endswith("PROCESSITEMS") and isinstance(e["first"], dict):
        name += ":" + e["first"].get("list", "")
    print(name, json.dumps(e["first"], separators=(",", ":")), e["thread"])
PY
}
lists() { for list in "$@"; do echo "EV_BEFOREPROCESSITEMS:$list EV_AFTERPROCESSITEMS:$list"; done; }
events_are() { [ "$(trace_events "$1" ${3:-} | cut -d' ' -f1 | tr '\n' ' ')" = "$(echo $2) " ]; }
check "the plug-in is loaded, started and told of the run's steps in their order, then unloaded" \
  events_are "$work/plain.jsonl" "EV_SETSTARTUPINFO EV_LOAD EV_LANGUAGECHANGED EV_CHECKLAUNCHCONDITIONS EV_START \
$(lists programs) EV_SHOWDIALOGS EV_BEFOREINSTALL \
$(lists programs files servers registry ini fonts shortcuts programs programs programs) \
EV_AFTERINSTALL EV_SHOWDIALOGS EV_FINISH EV_UNLOAD" lists
check "the items of the lists are told one by one, file by file with their progress" \
  bash -c "[ \$(grep -c '\"event\":\"EV_BEFOREPROCESSITEM\",' '$work/plain.jsonl') -eq 11 ]"
check "every event reaches the plug-in on the main thread" \
  bash -c "! grep -q '\"thread\":\"other\"' '$work/plain.jsonl'"
check "the installed run finishes with result 1" \
  bash -c "grep -q '\"event\":\"EV_FINISH\",\"number\":5,\"thread\":\"main\",\"first\":1' '$work/plain.jsonl'"
check "the language the plug-in is told at load" \
  bash -c "grep -q '\"event\":\"EV_LANGUAGECHANGED\".*\"first\":\"ENU\"' '$work/plain.jsonl'"
check "the install type chosen before the dialogs, then again by the plug-in" \
  bash -c "[ \$(grep -c '\"event\":\"EV_INSTALLTYPECHANGED\".*\"first\":\"full\"' '$work/plain.jsonl') -eq 2 ]"

# --- What an installation does with files already there: an older file is replaced, a newer one
# kept after asking the plug-in, a read-only one replaced, a shared one counted twice, and one that
# another program holds open (host: a lock; Windows: another Windows program) waits for the next
# start of the system.
kinds_project="$work/kinds-project"
rm -rf "$kinds_project" && cp -r "$project" "$kinds_project"
mkdir -p "$kinds_project/payload/app/kinds"
for name in old new ro shared held; do echo "$name as packed" >"$kinds_project/payload/app/kinds/$name.txt"; done
touch -d '2020-01-01' "$kinds_project"/payload/app/kinds/*.txt
sed -i 's|<file src="readme.txt"|<file src="kinds\\shared.txt" dst="%InstallPath%\\kinds\\shared.txt" flags="shared"/>\n        <file src="kinds\\*.txt" dst="%InstallPath%\\kinds\\*.*"/>\n        &|' \
  "$kinds_project/demo.xml"
dir="$work/kinds" && rm -rf "$dir" && mkdir -p "$dir"
run "$kxbuild" "$(windows_name "$kinds_project/demo.xml")" -o "$(windows_name "$dir/$setup_name")" \
  --target "$target" --stub "$(windows_name "$engine")" >"$work/kxbuild-kinds.log" 2>&1
chmod +x "$dir/$setup_name"
kinds="$install_dir/kinds"
kinds_as_they_were() {
  rm -rf "$install_dir" && mkdir -p "$kinds"
  for name in old new ro shared held; do echo "$name as it was" >"$kinds/$name.txt"; done
  touch -d '2001-01-01' "$kinds"/*.txt
  touch -d '2030-01-01' "$kinds/new.txt"
  chmod a-w "$kinds/ro.txt"
}
hold() {  # file [alone]: another program holds it open until let_go
  rm -f "$work/held.ready" "$work/held.stop"
  hold_open "$1" "$work/held.ready" "$work/held.stop" ${2:+"$2"} &
  holder_pid=$!
  for _ in $(seq 1 300); do [ -e "$work/held.ready" ] && break; sleep 0.1; done
  [ -e "$work/held.ready" ]
}
let_go() { touch "$work/held.stop"; wait "$holder_pid"; }
shared_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'
shared_name="$folder\kinds\shared.txt"
session_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
forget_counter_and_moves() {  # Wine's machine is the test suite's
  kx reg del "$shared_key" "$shared_name" >/dev/null 2>&1
  kx reg del "$session_key" PendingFileRenameOperations >/dev/null 2>&1
  forget_resumes
}
forget_counter_and_moves
kinds_as_they_were
check "files already there: another program holds one open" hold "$kinds/held.txt"
KX_AUTOPILOT_TRACE=$(windows_name "$work/kinds.jsonl")
run_engine "$dir/$setup_name" /s
let_go
check "files already there: the run succeeds" [ "$code" -eq 0 ]
check "an older file is replaced" grep -q "old as packed" "$kinds/old.txt"
check "a newer file is kept, after the plug-in was asked" bash -c "grep -q 'new as it was' '$kinds/new.txt' &&
  grep -q '\"event\":\"EV_VERSIONCONFLICT\"' '$work/kinds.jsonl'"
check "a read-only file is replaced" grep -q "ro as packed" "$kinds/ro.txt"
check "a shared file that was there without a counter counts 2" \
  [ "$(kx reg get "$shared_key" "$shared_name")" = 2 ]
check "a file in use is left as it was" grep -q "held as it was" "$kinds/held.txt"
pending=$(grep -l 'held as packed' "$kinds"/kx* 2>/dev/null)
check "its new contents wait beside it" [ -n "$pending" ]
nt='\??\'  # how the system names a path in its list of moves
check "and go into place at the next start of the system: the old file goes, the new one moves" \
  listing_is "$(printf '%s\n' "$nt$folder\kinds\held.txt" "" "$nt$folder\kinds\\${pending##*/}" \
    "$nt$folder\kinds\held.txt")" "$(kx reg get "$session_key" PendingFileRenameOperations)"
check "files that were there are not the uninstaller's to remove" \
  listing_is "" "$(log_section CopyFiles | grep -F 'kinds\')"
check "the shared file is listed as counted" listing_is "$shared_name=" "$(log_section SharedFiles)"
# A later start of Wine's machine would make the move, and count the shared file a third time.
forget_counter_and_moves
rm -f "$kinds"/kx*

# A file that nobody else may even read cannot be kept for a rollback: the run fails, and every
# file is as it was. (A lock on the host keeps no one from reading.)
if [ "$mode" = wine ]; then
  kinds_as_they_were
  check "a file nobody may read: another program holds it" hold "$kinds/held.txt" alone
  run_engine "$dir/$setup_name" /s
  let_go
  check "a file nobody may read: the run fails" [ "$code" -eq 255 ]
  check "a file nobody may read: it is named" contains 'kinds\held.txt'
  check "a file nobody may read: the files already there are as they were, and no others" \
    listing_is "$(for name in held new old ro shared; do echo "$name.txt:$name as it was"; done)" \
    "$(cd "$kinds" && grep -H '' -- *)"
  forget_counter_and_moves
fi
chmod -R u+w "$kinds"
# The run above waits for a restart that never comes: what it put in place goes by hand.
rm -rf "$install_dir"

# Variants of the demo, each with its own plug-in settings or plug-in library.
variant() {  # name, sed script for autopilot.ini, sed script for demo.xml; sets $setup
  local project_copy="$work/variant-$1"
  rm -rf "$project_copy" && cp -r "$project" "$project_copy"
  sed -i "$2" "$project_copy/autopilot.ini"
  sed -i "$3" "$project_copy/demo.xml"
  dir="$work/$1"
  rm -rf "$dir" && mkdir -p "$dir"
  setup="$dir/$setup_name"
  run "$kxbuild" "$(windows_name "$project_copy/demo.xml")" -o "$(windows_name "$setup")" \
    --target "$target" --stub "$(windows_name "$engine")" >"$work/kxbuild-$1.log" 2>&1
  chmod +x "$setup"
  rm -rf "$project_copy"
  KX_AUTOPILOT_TRACE=$(windows_name "$work/$1.jsonl")
}

# The user cancels in the dialogs: the run fails there, before installing, and still finishes.
variant cancel 's/^Before=proceed/Before=cancel/' ''
run_engine "$setup" /s
check "cancelled in the dialogs: exit code -1" [ "$code" -eq 255 ]
check "cancelled in the dialogs: no message, the user chose it" [ -z "$out" ]
check "cancelled in the dialogs: the plug-in hears of no installation, and the run finishes" \
  events_are "$work/cancel.jsonl" "EV_SETSTARTUPINFO EV_LOAD EV_LANGUAGECHANGED EV_CHECKLAUNCHCONDITIONS EV_START \
EV_BEFOREPROCESSITEMS EV_AFTERPROCESSITEMS EV_SHOWDIALOGS EV_FINISH EV_UNLOAD"
check "cancelled in the dialogs: the temporary folder is removed" [ -z "$leftover" ]

# The plug-in asks the engine to stop as soon as the run starts.
variant abort 's/^\[Functions\]/[Abort]\nEvent=EV_START\n&/' ''
run_engine "$setup" /s
check "stopped by the plug-in: exit code -1" [ "$code" -eq 255 ]
check "stopped by the plug-in: no dialogs after the stop" \
  events_are "$work/abort.jsonl" "EV_SETSTARTUPINFO EV_LOAD EV_LANGUAGECHANGED EV_CHECKLAUNCHCONDITIONS EV_START EV_FINISH EV_UNLOAD"
check "stopped by the plug-in: the temporary folder is removed" [ -z "$leftover" ]

# The further package is not beside the setup: the plug-in names the folder where it is.
variant elsewhere 's/^\[Answers\]/&\nPackageFolders=%KX_DISK2%/' ''
mkdir -p "$dir/disk2" && mv "$dir/docs.kxp" "$dir/disk2/"
export KX_DISK2
KX_DISK2=$(windows_name "$dir/disk2")
run_engine "$setup" /s
check "a further package elsewhere is found through the plug-in" installed
check "the plug-in was asked for docs.kxp" \
  bash -c "grep -q '\"event\":\"EV_GETPACKAGE\".*\"first\":\"docs.kxp\"' '$work/elsewhere.jsonl'"
uninstall_quietly KxDemo
check "installed from two folders, uninstalled: the files and the entry are gone" \
  bash -c '[ "$0" -eq 0 ] && [ ! -e "$1/readme.txt" ] && [ ! -e "$1/install.log" ]' "$code" "$install_dir"
check "installed from two folders, uninstalled: no uninstall entry" keys_absent "$uninstall_key\KxDemo"
rm -rf "$dir/disk2"
run_engine "$setup" /s
check "a further package nowhere: the plug-in's folder is tried, then the run fails" \
  contains 'File "docs.kxp" was not found'
check "a further package nowhere: the temporary folder is removed" [ -z "$leftover" ]

# A plug-in library that names no entry of the project is refused: the run cannot start.
variant wrong-plugin '' 's/src="autopilot.dll"/src="testfail_wrongname.dll"/'
run_engine "$setup" /s
check "a plug-in of another name: its entry cannot be loaded" \
  contains 'Cannot load "autopilot" plug-in!'
check "a plug-in of another name: exit code -1" [ "$code" -eq 255 ]
check "a plug-in of another name: the temporary folder is removed" [ -z "$leftover" ]

# A plug-in that faults in the middle of the run: its library is named, the run ends cleanly.
variant crash '' 's/id="autopilot"/id="testfail"/g; s/src="autopilot.dll"/src="testfail_crash.dll"/'
run_engine "$setup" /s
check "a plug-in that faults: it is named" \
  contains 'The plug-in "testfail_crash.dll" has failed (access violation). Setup cannot continue.'
check "a plug-in that faults: exit code -1" [ "$code" -eq 255 ]
check "a plug-in that faults: the temporary folder is removed" [ -z "$leftover" ]

# An administrator's diagnostic log of a run that fails late: an INI file whose folder is a file.
variant logged '' 's|<ini file="%InstallPath%\\demo.ini"[^>]*/>|&<ini file="%InstallPath%\\readme.txt\\broken.ini" section="S" param="P" value="V"/>|'
mkdir -p "$work/log folder"
run_engine "$setup" /s "/log=$(windows_name "$work/log folder/run.log")"
diagnostic=$(tr -d '\r' <"$work/log folder/run.log" 2>/dev/null)
logged() { grep -qE -- "^[0-9:.]{12} (main|work)  $1" <<<"$diagnostic"; }
check "/log: the run fails: exit code -1" [ "$code" -eq 255 ]
check "/log: the log starts with the command line" logged 'command line: .* /s "/log=.*run.log"$'
check "/log: each phase with its result" logged "end registry values: succeeded \\([0-9]+ ms\\)"
check "/log: the events with their answers" logged "EV_BEFOREINSTALL\\(0, 0\\) to autopilot.dll: 0"
check "/log: the failing action's box" logged 'box "Demo Product": Cannot write file .*\\readme.txt\\broken.ini$'
check "/log: the system's reason for it" \
  logged 'system failure at [0-9:.]+ Cannot open file .*\\readme.txt\\broken.ini: .'
check "/log: every recorded action, then each undone" \
  bash -c 'grep -q "^[0-9:.]* main    Reg HKCU.Software.Kx Demo.Demo Product|Runs" <<<"$0" &&
    grep -q "undo File C:.Program Files.Demo Product.readme.txt" <<<"$0"' "$diagnostic"
check "/log: the plug-ins hear the run failed" logged "EV_FINISH\\(0, 0\\) to autopilot.dll: 0"
check "/log: the exit code ends it" [ "$(tail -1 <<<"$diagnostic" | cut -c20-)" = "exit code -1" ]
run_engine "$setup" /s /log "$(windows_name "$work/no such folder/run.log")"
check "/log in a folder that is not there: a warning, and the run goes on" \
  bash -c '[ "$0" -eq 255 ] && grep -q "Cannot create the log file" <<<"$1" &&
    grep -q "broken.ini" <<<"$1"' "$code" "$out"
unset KX_AUTOPILOT_TRACE KX_DISK2

# --- Temporary names someone else took first: with the clock standing still, the name the clock
# gives is a link in the temporary folder to a folder that does not exist. The run still makes its
# folders, under names nobody could guess, and nothing is created through the link.
if [ "$mode" = host ]; then
  fresh_copy taken-names
  squatter="$temp_dir/2F33DRK0"  # the clock's name at 10:00:00.00 on 6 December 2026
  ln -s "$dir/planted" "$squatter"
  export KX_LOCAL_TIME="2026-12-06 10:00:00.000"
  run_engine timeout 60 "$setup" /s
  unset KX_LOCAL_TIME
  check "taken temporary names: the run installs" installed
  check "taken temporary names: nothing is created through the link" [ ! -e "$dir/planted" ]
  check "taken temporary names: the link is left alone" [ -L "$squatter" ]
  check "taken temporary names: the temporary folder is removed" [ -z "$leftover" ]
  rm -f "$squatter"
fi

# The full install type needs docs.kxp: missing or damaged, the run ends with its own message.
fresh_copy no-further
rm "$dir/docs.kxp"
run_engine "$setup" /s
check "missing further package is named" contains 'File "docs.kxp" was not found'
check "missing further package removes the temporary folder" [ -z "$leftover" ]
fresh_copy cut-further
truncate -s -1 "$dir/docs.kxp"
run_engine "$setup" /s
check "damaged further package is an invalid package" contains "Invalid package size!"
check "damaged further package is named" contains "docs.kxp"

# A pipe in the place of a package would block whoever opens it until someone writes to it.
if [ "$mode" = host ]; then
  fresh_copy pipe-further
  rm "$dir/docs.kxp" && mkfifo "$dir/docs.kxp"
  run_engine timeout 30 "$setup" /s
  check "a pipe named like a further package is refused, not waited on" [ "$code" -eq 255 ]
  check "the pipe is named" contains 'docs.kxp" cannot be opened'
fi

# --- The trailer: what may be appended after the marker, and what breaks the check.
fresh_copy appended
head -c 65530 /dev/zero >>"$setup"
run_engine "$setup" /s
check "65530 bytes appended after the marker are allowed" installed
fresh_copy appended-too-far
head -c 65531 /dev/zero >>"$setup"
run_engine "$setup" /s
check "a marker out of the last 64 KiB is an invalid package" contains "Invalid package size!"
check "the invalid package is named" contains "$setup_name"
check "the invalid package removes its temporary folder" [ -z "$leftover" ]
fresh_copy no-marker
overwrite_at "$setup" $(($(size_of "$setup") - 6)) "KXPENX"
run_engine "$setup" /s
check "a package without its marker is invalid" contains "Invalid package size!"
fresh_copy cut
truncate -s -100 "$dir/$setup_name"
overwrite_at "$setup" $(($(size_of "$setup") - 18)) "$(tail -c 18 "$built/$setup_name")"
run_engine "$setup" /s
check "a package shorter than built is invalid" contains "Invalid package size!"

# --- Preparation stops at the first data entry: with the last data block damaged, the setup
# still gets as far as ever, while a full extraction of the same archive fails.
fresh_copy damaged-data
rm -rf "$install_dir"  # installed files of the same date and size would not be extracted again
overwrite_at "$setup" $(($(size_of "$setup") - 18 - 1000)) "damaged damaged damaged"
run_engine "$setup" /s
check "damaged data blocks are not read while preparing, only when installing" \
  contains 'Cannot install file'
check "damaged data blocks: the run fails" [ "$code" -eq 255 ]
check "damaged data blocks: the temporary folder is removed" [ -z "$leftover" ]
check "the damaged data blocks are really damaged" \
  bash -c "! cabextract -q -t '$setup' >/dev/null 2>&1"

# ... and it never decompresses data at all: the data entries begin a folder of their own, so
# with the first data block damaged the presetup files still come out whole.
first_data_block() {  # package: the file offset of the first data block of the first data entry
  python3 - "$1" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
end = struct.unpack_from("<I", b, len(b) - 18)[0] - 18  # the cabinet ends at the trailer
cab = end
while True:  # the header whose cabinet size reaches the trailer
    cab = b.rfind(b"MSCF", 0, cab)
    if cab < 0 or struct.unpack_from("<I", b, cab + 8)[0] == end - cab:
        break
at = cab + struct.unpack_from("<I", b, cab + 16)[0]
for _ in range(struct.unpack_from("<H", b, cab + 28)[0]):
    folder = struct.unpack_from("<H", b, at + 8)[0]
    name = b[at + 16:b.index(b"\0", at + 16)]
    if name[:5].lower() == b"data\\":
        print(cab + struct.unpack_from("<I", b, cab + 36 + 8 * folder)[0] + 8)
        break
    at += 16 + len(name) + 1
PY
}
fresh_copy damaged-first-data
rm -rf "$install_dir"
overwrite_at "$setup" "$(first_data_block "$setup")" "damaged damaged damaged"
run_engine "$setup" /s
check "a damaged first data block is not read while preparing, only when installing" \
  contains 'Cannot install file'
check "damaged first data block: the temporary folder is removed" [ -z "$leftover" ]

# --- A signed package: the signature is appended after the marker and the PE header changes.
if [ "$mode" = wine ]; then
  fresh_copy signed
  openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Demo Vendor" -days 30 \
    -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Demo Product" \
    -in "$setup" -out "$dir/signed.exe" >"$work/sign.log" 2>&1
  check "osslsigncode signs the package" [ -s "$dir/signed.exe" ]
  check "the signature makes the package longer" \
    [ "$(size_of "$dir/signed.exe")" -gt "$(size_of "$setup")" ]
  signature_verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1; }
  check "the signature verifies" signature_verifies "$dir/signed.exe"
  mv "$dir/signed.exe" "$setup"
  run_engine "$setup" /s
  check "a signed package installs" installed
  check "a signed package removes its temporary folder" [ -z "$leftover" ]
fi

# --- Stopped from outside while it extracts a large presetup file, the engine removes its
# temporary folder before it ends. (The host: the stop signals; Windows tells a GUI program of the
# end of a session through its windows.)
if [ "$mode" = host ]; then
  stopped="$work/stopped"
  rm -rf "$stopped" && cp -r "$project" "$stopped"
  truncate -s 400M "$stopped/big.bin"
  sed -i 's|<presetup src="license.txt"/>|&<presetup src="big.bin"/>|' "$stopped/demo.xml"
  mkdir -p "$work/stopped-built"
  "$kxbuild" "$(windows_name "$stopped/demo.xml")" -o "$(windows_name "$work/stopped-built/$setup_name")" \
    --target "$target" --stub "$(windows_name "$engine")" >"$work/kxbuild-stopped.log" 2>&1
  chmod +x "$work/stopped-built/$setup_name"
  rm -f "$stopped/big.bin"
  for signal in TERM INT; do
    before=$(ls -A "$temp_dir" | sort)
    # A script's background job ignores SIGINT unless told otherwise, and so would the engine.
    env --default-signal=INT "$work/stopped-built/$setup_name" /s >"$work/stopped.out" 2>&1 &
    pid=$!
    # Stopped once the large file is being written, well before the run can end by itself.
    for _ in $(seq 1 1000); do
      find "$temp_dir" -name big.bin -size +1k 2>/dev/null | grep -q . && break
      sleep 0.01
    done
    running=no
    kill -0 "$pid" 2>/dev/null && running=yes
    kill -s "$signal" "$pid"
    wait "$pid"
    code=$?
    leftover=$(comm -13 <(echo "$before") <(ls -A "$temp_dir" | sort))
    check "SIG$signal reached the engine while it was extracting" [ "$running" = yes ]
    check "SIG$signal ends the engine with exit code -1" [ "$code" -eq 255 ]
    check "SIG$signal stops the run before its end" \
      bash -c "! grep -q 'not supported yet' '$work/stopped.out'"
    check "SIG$signal: the engine removes its temporary folder" [ -z "$leftover" ]
    if [ -n "$leftover" ]; then (cd "$temp_dir" && rm -rf $leftover); fi
  done
  rm -rf "$work/stopped-built" "$stopped"
fi

# --- /resume: a folder that holds no saved run is ours to remove; any other folder is kept.
fresh_copy resume
own="$temp_dir/00000000"
mkdir -p "$own"
run_engine "$setup" "/resume:$(windows_name "$own")"
check "resume without saved state fails" contains "Cannot resume installation."
check "resume without saved state exits with -1" [ "$code" -eq 255 ]
check "resume removes the suspended run's folder" [ ! -e "$own" ]
foreign="$work/precious"
mkdir -p "$foreign" && echo keep >"$foreign/keep.txt"
run_engine "$setup" "/RESUME:\"$(windows_name "$foreign")\""
check "resume names a foreign folder: fails" contains "Cannot resume installation."
check "resume never deletes a foreign folder" [ -f "$foreign/keep.txt" ]

finish
