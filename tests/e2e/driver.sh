#!/usr/bin/env bash
# The run as a whole, through the engine program: the language a run speaks, a repair driven by
# the settings the first install stored, a temporary folder without room for the presetup files,
# and the restart a project asks for at the end.
#   driver.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR
# host: the user's locale is $KX_LOCALE; wine: Wine takes it from $LC_ALL at each program start.
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$6
umount "$work/tiny" 2>/dev/null  # left by a run that was stopped
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"
languages_dir="$demo/../../lng"
default_dir="$program_files/Driver Product"
elsewhere="Driver Elsewhere"
product_key='HKCU\Software\Kx Demo\Driver Product'
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KxDriver'
forget() {
  remove_installation "$default_dir" "$product_key" "$uninstall_key"
  rm -rf "$program_files/$elsewhere"
}
forget
export KX_AUTOPILOT_TRACE
KX_AUTOPILOT_TRACE=$(windows_name "$work/trace.jsonl")
french() {  # command...: run as a user whose locale is French (France)
  if [ "$mode" = host ]; then KX_LOCALE=040C "$@"; else LC_ALL=fr_FR.UTF-8 "$@"; fi
}
german() {  # command...: run as a user whose locale is German (Germany)
  if [ "$mode" = host ]; then KX_LOCALE=0407 "$@"; else LC_ALL=de_DE.UTF-8 "$@"; fi
}

# The demo under a name of its own, offering LANGUAGES, with a text of the uninstaller in each of
# its language files; EDIT (a sed script) changes its autopilot.ini.
variant() {  # name, languages, edit
  local project="$work/$1-project" language
  rm -rf "$project" && cp -r "$demo" "$project"
  sed -i -e 's|Demo Product|Driver Product|g' -e 's|KxDemo|KxDriver|' \
    -e "s|<var name=\"Languages\" value=\"[^\"]*\"/>|<var name=\"Languages\" value=\"$2\"/>|" \
    -e 's|<presetup src="license.txt"/>|&<language src="ENU.lng"/><language src="DEU.lng"/>|' \
    "$project/demo.xml"
  sed -i "$3" "$project/autopilot.ini"
  for language in ENU DEU; do
    { cat "$languages_dir/$language.lng"
      printf '%s\r\n' "" "[Uninstall.Strings]" "Title=$language: %AppName%"
    } >"$project/$language.lng"
  done
  build_package "$project/demo.xml" "$work/$1" DriverSetup
}
settings_beside() {  # setup program, name=value...: the silent settings an administrator gives
  local vars="" pair
  for pair in "${@:2}"; do vars+="<var name=\"${pair%%=*}\" value=\"${pair#*=}\"/>"; done
  printf '<silentsettings><variables>%s</variables></silentsettings>\r\n' "$vars" >"${1%$exe}.sss"
}
told_language() {  # the language the plug-in was told last
  sed -n 's/.*"event":"EV_LANGUAGECHANGED".*"first":"\([A-Z]*\)".*/\1/p' "$work/trace.jsonl" |
    tail -1
}
log_title() { kx ini "$(windows_name "$default_dir/install.log")" get Strings Title "" | sed '$d'; }

# --- Languages: the user's own when offered, else English when offered, else the first.
variant both "DEU,ENU" ''
both=$setup
variant german DEU ''
german=$setup
check "kxbuild builds the packages" [ -f "$both" ] && [ -f "$german" ]
for case in "both|ENU|ENU: Driver Product|This operating system is not supported!" \
  "german|DEU|DEU: Driver Product|Dieses Betriebssystem wird nicht unterst"; do
  IFS='|' read -r name language title box <<<"$case"
  setup=${!name}
  rm -f "$work/trace.jsonl" "${setup%$exe}.sss"
  french run_setup "$setup" /s 2>/dev/null  # bash has no such locale
  check "$name, French user: installs" [ "$code" -eq 0 ]
  check "$name, French user: speaks $language to the plug-in" [ "$(told_language)" = "$language" ]
  check "$name, French user: the uninstaller's texts in $language" [ "$(log_title)" = "$title" ]
  forget
  settings_beside "$setup" SupportedOS=9x,ME
  french run_setup "$setup" /s 2>/dev/null
  check "$name, French user: a refusal in $language, exit -1" \
    bash -c '[ "$1" -eq 255 ] && grep -qF -- "$2" <<<"$3"' _ "$code" "$box" "$out"
  check "$name, French user: nothing installed" [ ! -e "$default_dir" ]
  rm -f "${setup%$exe}.sss"
done

rm -f "$work/trace.jsonl"
german run_setup "$both" /s 2>/dev/null
check "both, German user: speaks DEU, the user's own" [ "$(told_language)" = DEU ]
forget

# --- Cancelled after the installation, at the closing dialogs: everything is rolled back.
variant late ENU 's|^After=proceed|After=cancel|'
rm -f "$work/trace.jsonl"
run_setup "$setup" /s
check "cancelled at the closing dialogs: exit -1" [ "$code" -eq 255 ]
check "cancelled at the closing dialogs: the installation was whole, then rolled back" \
  bash -c '! [ -e "$1" ] && grep -q "\"event\":\"EV_AFTERINSTALL\"" "$2"' _ "$default_dir" "$work/trace.jsonl"
check "cancelled at the closing dialogs: no registry value or uninstall entry left" \
  keys_absent "$product_key" "$uninstall_key"
check "cancelled at the closing dialogs: the plug-ins hear the run failed" \
  grep -q '"event":"EV_FINISH","number":5,"thread":"main","first":0' "$work/trace.jsonl"
forget

# --- Repair: the first install chose the typical type (no manuals) and another folder; the
# repair, from a package whose plug-in chooses nothing, installs the same again.
variant first ENU 's|^InstallType=.*|InstallType=typical|; s|^\[Functions\]|[Variables]\nInstallPath=%ProgramFiles%\\'"$elsewhere"'\n\n&|'
first=$setup
variant repair ENU '/^InstallType=/d'
repair=$setup
installed="$program_files/$elsewhere"
run_setup "$first" /s
check "first install: exit 0" [ "$code" -eq 0 ]
check "first install: in the folder chosen, without the manuals" \
  bash -c '[ -f "$1/readme.txt" ] && [ ! -e "$1/docs" ]' _ "$installed"
# A file damaged without changing its size or time, and one deleted.
readme="$installed/readme.txt"
cp -p "$readme" "$work/readme.txt"
tr 'a-z' 'A-Z' <"$work/readme.txt" >"$readme"
touch -r "$work/readme.txt" "$readme"
rm "$installed/bin/demo.dat"
run_setup "$first" /s
check "a plain run skips a file of the same time and size" \
  bash -c '[ "$1" -eq 0 ] && ! cmp -s "$2" "$3"' _ "$code" "$readme" "$work/readme.txt"
rm "$installed/bin/demo.dat"
run_setup "$repair" /repair KxDriver
check "repair: exit 0" [ "$code" -eq 0 ]
check "repair: replaces the file of the same time and size" cmp -s "$readme" "$work/readme.txt"
check "repair: puts back the deleted file" [ -f "$installed/bin/demo.dat" ]
check "repair: the folder and the install type of the first install" \
  bash -c '[ ! -e "$1" ] && [ ! -e "$2/docs" ]' _ "$default_dir" "$installed"
check "repair: silent, as the stored settings say" [ -z "$out" ]
run_setup "$repair" /repair KxOther
check "repair of another application: refused, exit -1" \
  bash -c '[ "$1" -eq 255 ] && grep -qF "Cannot repair application!" <<<"$2"' _ "$code" "$out"
uninstall_quietly KxDriver
check "the repaired installation is removed by its uninstaller: exit 0, no file left" \
  bash -c '[ "$1" -eq 0 ] && [ ! -e "$2" ]' _ "$code" "$installed"
check "... and no registry value or uninstall entry" keys_absent "$product_key" "$uninstall_key"
remove_installation "$installed" "$product_key" "$uninstall_key"
run_setup "$repair" /repair
check "repair of nothing installed: refused, exit -1" \
  bash -c '[ "$1" -eq 255 ] && grep -qF "Cannot repair application!" <<<"$2"' _ "$code" "$out"
check "repair of nothing installed: installs nothing" [ ! -e "$installed" ] && [ ! -e "$default_dir" ]
forget

# --- No room for the presetup files: a temporary folder on a small file system, with presetup
# files far bigger than it. Needs a tmpfs mount (root).
tiny="$work/tiny"
mkdir -p "$tiny"
if mount -t tmpfs -o size=16m tmpfs "$tiny" 2>/dev/null; then
  trap 'umount "$tiny"' EXIT
  project="$work/big-project"
  rm -rf "$project" && cp -r "$work/both-project" "$project"
  head -c 40000000 /dev/zero >"$project/big.bin"
  sed -i 's|<presetup src="license.txt"/>|&<presetup src="big.bin"/>|' "$project/demo.xml"
  build_package "$project/demo.xml" "$work/big" DriverSetup
  if [ "$mode" = host ]; then
    TMPDIR=$tiny run_setup "$setup" /s
  else
    # Wine sets TEMP from its registry at each start: the batch sets it for the setup alone.
    printf '@set TEMP=%s\r\n@set TMP=%s\r\n@"%s" /s\r\n@exit %%ERRORLEVEL%%\r\n' \
      "$(windows_name "$tiny")" "$(windows_name "$tiny")" "$(windows_name "$setup")" >"$work/tiny.bat"
    run_setup cmd /c "$(windows_name "$work/tiny.bat")"
  fi
  check "no room: says so, then that the package cannot be prepared, exit -1" \
    bash -c '[ "$1" -eq 255 ] && grep -A1 -F "Insufficient free disk space!" <<<"$2" |
      grep -qF "Can'"'"'t prepare main package!"' _ "$code" "$out"
  check "no room: nothing left in the temporary folder, nothing installed" \
    bash -c '[ -z "$(ls -A "$1")" ] && [ ! -e "$2" ]' _ "$tiny" "$default_dir"
else
  echo "skipped: no room for the presetup files (mounting a small file system needs root)"
fi

# --- The restart a project asks for at the end: the host says it would restart, and records it
# for kxtool reboot. (Under Wine a restart would end every program of the suite's prefix.)
if [ "$mode" = host ]; then
  variant restart ENU 's|^Reboot=no|Reboot=yes|'
  sed -i 's|<var name="Uninstall" value="1"/>|&<var name="Reboot" value="1"/>|' \
    "$work/restart-project/demo.xml"
  build_package "$work/restart-project/demo.xml" "$work/restart" DriverSetup
  run_setup "$setup" /s
  check "a restart asked for: installs, and says the machine would restart now" \
    bash -c '[ "$1" -eq 0 ] && grep -qF "the machine would restart now" <<<"$2"' _ "$code" "$out"
  check "... recorded for kxtool reboot" [ -s "$KX_ROOT/restart-requested" ]
  forget
  variant norestart ENU ''
  sed -i 's|<var name="Uninstall" value="1"/>|&<var name="Reboot" value="1"/>|' \
    "$work/norestart-project/demo.xml"
  build_package "$work/norestart-project/demo.xml" "$work/norestart" DriverSetup
  rm -f "$KX_ROOT/restart-requested"
  run_setup "$setup" /s
  check "a restart the plug-in declines: installs, no restart" \
    bash -c '[ "$1" -eq 0 ] && [ ! -e "$2" ]' _ "$code" "$KX_ROOT/restart-requested"
  forget
fi
finish
