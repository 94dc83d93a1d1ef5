#!/usr/bin/env bash
# A run that needs the machine to restart: it suspends, the restart starts the engine again with
# the saved state, and the run goes on from where it stood.
#   resume.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR [ASKER HOLDER]
# host: the restart is `kxtool reboot`; a program asks for it by signalling the engine (SIGUSR1,
# the host's end of session). wine: the restart is `wineboot -r` and `kxtool reboot`; ASKER is the Windows program
# that asks for a restart (RebootAsker.c), HOLDER the one that holds a file open (FileHolder.c).
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$6 asker=${7:-} holder=${8:-}
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
progs="$work/progs"
mkdir -p "$progs"
export KX_RESUME_MARKS="$work/marks.txt"

source "$(dirname "$0")/machine.sh"
if [ "$mode" = host ]; then
  restart() { "$kxtool" reboot; }
  # The programs: shell scripts with a program's name, which the engine starts directly.
  printf '#!/bin/sh\necho "$1" >>"$KX_RESUME_MARKS"\nexit "${2:-0}"\n' >"$progs/mark.exe"
  # Asks for the restart once: the session ends while it runs.
  printf '#!/bin/sh\necho asker >>"$KX_RESUME_MARKS"\nkill -USR1 $PPID\nsleep 3\n' \
    >"$progs/asker.exe"
  chmod +x "$progs"/*.exe
else
  # wineboot -r applies the pending file operations and runs HKLM's RunOnce commands, but not
  # HKCU's, which Windows runs at the user's logon: kxtool reboot runs those.
  restart() { wineboot -r 2>/dev/null; run "$kxtool" reboot | tr -d '\r'; }
  cp "$asker" "$progs/asker.exe"
  printf '@echo %%1>>"%s"\r\n@exit %%2\r\n' "$(windows_name "$KX_RESUME_MARKS")" >"$progs/mark.bat"
fi
install_dir="$program_files/Demo Product"
# Registry questions by exit code (kx's pipe would hide it).
present() { run "$kxtool" reg "$([ $# -eq 1 ] && echo list || echo get)" "$@" >/dev/null 2>&1; }
absent() { ! present "$@"; }
marks() { [ -f "$KX_RESUME_MARKS" ] && tr -d '\r ' <"$KX_RESUME_MARKS" | paste -sd, -; }
run_once_values() { kx reg list 'HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce' 2>/dev/null |
  grep -c '^"kx[0-9]*"'; }
saved_state() {  # the InstallState and InstallStateData of the suspended run's saved database
  local db
  db=$(ls "$temp_dir"/*/MainDB 2>/dev/null | head -1)
  [ -n "$db" ] && [ -f "$(dirname "$db")/InstallActions" ] &&
    python3 -c 'import sys,xml.etree.ElementTree as E; r=E.parse(sys.argv[1]).getroot()
a={k.lower():v for k,v in r.attrib.items()}; print(r.tag, a.get("installstate",""), a.get("installstatedata",""))' "$db"
}
mark_cmd() { [ "$mode" = host ] && echo "$(windows_name "$progs")\\mark.exe" ||
  echo "$(windows_name "$progs")\\mark.bat"; }

# --- The demo with programs around the installation.
build() {  # case, programs of the component "app" (XML)
  local project="$work/$1-project"
  rm -rf "$project" && cp -r "$demo" "$project"
  python3 - "$project/demo.xml" "$2" <<'PY'
import sys
path, programs = sys.argv[1], sys.argv[2]
text = open(path).read()
text = text.replace("</shortcuts>\n    </component>", "</shortcuts>\n      <runapps>" + programs + "</runapps>\n    </component>", 1)
open(path, "w").write(text)
PY
  build_package "$project/demo.xml" "$work/$1" DemoSetup
}
app() {  # when, command, argument[, flags]
  printf '<runapp cmdline="%s" arg="%s" whenstart="%s" flags="%s"/>' "$2" "$3" "$1" "${4:-}"
}
fresh_machine() {
  rm -rf "$install_dir" "$KX_RESUME_MARKS"
  kx reg del 'HKCU\Software\Kx Demo\Demo Product' >/dev/null 2>&1
  kx reg del 'HKCU\Software\Kx Demo' >/dev/null 2>&1
  kx reg del 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KxDemo' >/dev/null 2>&1
  forget_resumes
  rm -rf "${temp_dir:?}"/*
}
first_run() {
  out=$(run "$setup" /s 2>&1); code=$?
  echo "--- first run: exit $code, saved state: $(saved_state)"; echo "$out" | sed 's/^/    /'
}
reboot_machine() {
  out=$(restart 2>&1); code=$?
  echo "--- restart: exit $code"; echo "$out" | sed 's/^/    /'
}
asker_cmd="$(windows_name "$progs")\\asker.exe"
asker_arg=""  # the host's asker marks through the environment, the Windows one by its argument
[ "$mode" = wine ] && asker_arg=$(windows_name "$KX_RESUME_MARKS")
mark=$(mark_cmd)

# --- A program before the installation asks for a restart.
fresh_machine
build before "$(app before_install "$mark" first)$(app before_install "$asker_cmd" "$asker_arg")$(app before_install "$mark" second)$(app after_install "$mark" after)"
first_run
check "suspended run ends with exit 0" [ "$code" -eq 0 ]
check "the programs ran up to the one asking for the restart" [ "$(marks)" = "first,asker" ]
check "nothing is installed before the restart" [ ! -e "$install_dir/readme.txt" ]
check "the saved state names the running program" \
  [ "$(saved_state)" = "kx2project isrunappbeforeinstall app,1" ]
check "one RunOnce value resumes the run" [ "$(run_once_values)" -eq 1 ]
reboot_machine
check "the resumed run goes on after that program and completes" \
  [ "$(marks)" = "first,asker,second,after" ]
check "the resumed run installs the files" [ -f "$install_dir/readme.txt" ]
check "the resumed run writes the registry" present 'HKCU\Software\Kx Demo\Demo Product' Runs
check "the RunOnce value is gone" [ "$(run_once_values)" -eq 0 ]
check "the resumed run removes its temporary folder" [ -z "$(ls -A "$temp_dir")" ]
uninstall_quietly KxDemo
check "the uninstaller removes what the resumed run installed" \
  bash -c '[ "$1" -eq 0 ] && [ ! -e "$2" ]' _ "$code" "$install_dir"
check "... and its registry values" absent 'HKCU\Software\Kx Demo'

# --- A file in use becomes pending: the run suspends after the file phase.
fresh_machine
build pending "$(app after_install "$mark" after)"
mkdir -p "$install_dir"
echo old >"$install_dir/readme.txt"
touch -d 2001-01-01 "$install_dir/readme.txt"  # older: it is replaced
hold_open "$install_dir/readme.txt" "$work/held" "$work/release" &
holder_pid=$!
for _ in $(seq 100); do [ -e "$work/held" ] && break; sleep 0.1; done
first_run
touch "$work/release"; wait $holder_pid
check "suspended run ends with exit 0" [ "$code" -eq 0 ]
check "the saved state is the server phase" [ "$(saved_state)" = "kx2project isregservers " ]
check "the file in use keeps its content until the restart" [ "$(cat "$install_dir/readme.txt")" = old ]
check "the registry is not written before the restart" \
  absent 'HKCU\Software\Kx Demo\Demo Product' Runs
check "no program after the installation ran before the restart" [ -z "$(marks)" ]
reboot_machine
check "the restart puts the new file in place" cmp "$demo/payload/app/readme.txt" "$install_dir/readme.txt"
check "the resumed run writes the registry" present 'HKCU\Software\Kx Demo\Demo Product' Runs
check "the resumed run runs the programs after the installation" [ "$(marks)" = after ]
check "the RunOnce value is gone" [ "$(run_once_values)" -eq 0 ]
uninstall_quietly KxDemo
check "the uninstaller keeps the file that was there and removes the rest" \
  bash -c '[ "$1" -eq 0 ] && cmp -s "$2/readme.txt" "$3" && [ ! -e "$2/bin" ] &&
    [ ! -e "$2/install.log" ] && [ ! -e "$2/Uninstall.exe" ]' _ "$code" "$install_dir" \
  "$demo/payload/app/readme.txt"
check "... and the registry values the resumed run wrote" absent 'HKCU\Software\Kx Demo'

# --- Keys made before the restart are rolled back when the resumed run fails.
fresh_machine
build rollback "$(app after_install "$asker_cmd" "$asker_arg")$(app after_install "$mark" "failing 3" check_exitcode)"
first_run
check "suspended run ends with exit 0" [ "$code" -eq 0 ]
check "the saved state names the running program" \
  [ "$(saved_state)" = "kx2project isrunappafterinstall app,0" ]
check "the keys are there before the restart" present 'HKCU\Software\Kx Demo\Demo Product' Runs
reboot_machine
check "the failing program ran after the restart" [ "$(marks)" = "asker,failing" ]
check "the resumed run fails" grep -q '^exit -1' <<<"$out"
check "the keys made before the restart are rolled back" \
  absent 'HKCU\Software\Kx Demo'
check "the files installed before the restart are rolled back" [ ! -e "$install_dir" ]

# The machine as found: no run left to resume (the restarts applied every pending file operation).
fresh_machine
finish
