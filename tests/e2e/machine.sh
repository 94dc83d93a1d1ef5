# Shared by the end-to-end scripts (sourced after checks.sh, with $mode, $work, $engine, $kxbuild
# and $kxtool set): the machine the engine installs on, the same questions asked of either.
#   host: the Linux programs, with their own machine root ($work/machine) and temporary folder.
#   wine: the Windows programs under Wine ($WINEPREFIX must be initialised); $holder, when set,
#         is the Windows program that holds a file open (FileHolder.c).
# Defines target, exe (the programs' file-name ending), drive_c, program_files, temp_dir, and
# windows_name, unix_name, run, kx, hold_open, build_package, run_setup and server_calls_of.

if [ "$mode" = host ]; then
  export KX_ROOT="$work/machine" TMPDIR="$work/tmp"
  mkdir -p "$TMPDIR"
  temp_dir=$TMPDIR
  target=host exe=""
  drive_c="$KX_ROOT/drive_c"
  windows_name() { echo "Z:$(echo "$1" | tr / '\\')"; }
  # The host's drive C: lies under its machine root, drive Z: is "/".
  unix_name() {
    local path=${1//\\//}
    case "$path" in
      [Cc]:*) echo "$drive_c${path:2}" ;;
      [Zz]:*) echo "${path:2}" ;;
    esac
  }
  run() { "$@"; }
  # The tests' recording COM server cannot reach the host's registry store: it writes its calls
  # to a file.
  export KX_TEST_SERVER_CALLS="$work/server.calls"
  server_calls_of() { [ -f "$KX_TEST_SERVER_CALLS" ] && cut -c1 "$KX_TEST_SERVER_CALLS" | tr -d '\n'; }
  # Holds FILE locked, creates READY, and lets go once STOP appears (60 s at most).
  hold_open() {  # FILE READY STOP
    flock "$1" bash -c 'touch "$1"; for _ in $(seq 600); do [ -e "$2" ] && break; sleep 0.1; done' \
      _ "$2" "$3"
  }
else
  temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
  mkdir -p "$temp_dir"
  target=win64 exe=.exe
  drive_c="$WINEPREFIX/drive_c"
  windows_name() { winepath -w "$1" 2>/dev/null; }
  unix_name() { winepath -u "$1" 2>/dev/null; }
  run() { wine "$@"; }
  server_calls_of() { kx reg get 'HKCU\Software\KxTests\RecordingServer' "$1"; }
  hold_open() {  # FILE READY STOP [alone]
    wine "$holder" "$(windows_name "$1")" "$(windows_name "$2")" "$(windows_name "$3")" "${@:4}"
  }
fi
program_files="$drive_c/Program Files"

# server_calls_of SERVER: the calls the tests' recording COM server at the Windows path SERVER
# received, "+" for each registration and "-" for each unregistration, in order.

# kxtool on the machine the engine installs on: the host's registry store or Wine's registry.
kx() { run "$kxtool" "$@" | tr -d '\r'; }

# True when none of the registry keys exists.
keys_absent() {  # key...
  local key
  for key; do ! run "$kxtool" reg list "$key" >/dev/null 2>&1 || return 1; done
}

# Forgets every run waiting for a restart: its RunOnce value and its temporary folder. Wine's
# machine is the whole suite's, and its next restart would resume them all.
forget_resumes() {
  local root key value folder
  for root in HKCU HKLM; do
    key="$root\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
    for value in $(kx reg list "$key" 2>/dev/null | sed -n 's/^"\(kx[0-9]*\)".*/\1/p'); do
      folder=$(unix_name "$(kx reg get "$key" "$value" | sed -n 's|.*/resume:"\(.*\)"$|\1|p')")
      folder=$(realpath -m "${folder:-/}")
      [[ $folder == "$(realpath -m "$temp_dir")"/?* ]] && rm -rf "$folder"
      kx reg del "$key" "$value" >/dev/null
    done
  done
}

# What a silent install left, removed by its install log: files, shortcuts, the product's
# registry key and its uninstall entry (until the uninstaller does it).
remove_installation() {  # install folder, product key, uninstall key
  local log="$1/install.log" link
  if [ -f "$log" ]; then
    kx ini "$(windows_name "$log")" values Shortcuts | sed '$d' | sed 's/=$//' | while read -r link; do
      rm -f "$(unix_name "$link")"
      rmdir "$(dirname "$(unix_name "$link")")" 2>/dev/null
    done
  fi
  run "$kxtool" reg del "$2" >/dev/null 2>&1
  run "$kxtool" reg del "$3" >/dev/null 2>&1
  rm -rf "$1"
}

# Runs the uninstaller an installation of APP_ID left, as its uninstall entry's
# QuietUninstallString starts it; sets $out and $code like run_setup, and waits until the
# uninstaller has removed itself.
uninstall_quietly() {  # app id
  local root command program log
  for root in HKLM HKCU; do
    command=$(kx reg get "$root\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" \
      QuietUninstallString 2>/dev/null)
    [ -n "$command" ] && break
  done
  program=$(sed -n 's/^"\([^"]*\)".*/\1/p' <<<"$command")
  log=$(sed -n 's/^"[^"]*" "\([^"]*\)" \/s$/\1/p' <<<"$command")
  if [ -z "$program" ] || [ -z "$log" ]; then
    out="no uninstall entry of $1" code=1
    return
  fi
  if [ "$mode" = host ]; then run_setup "$(unix_name "$program")" "$log" /s; else run_setup "$program" "$log" /s; fi
  for _ in $(seq 50); do [ -e "$(unix_name "$program")" ] || break; sleep 0.2; done
}

# Builds the project file into FOLDER/NAME (NAME.exe under Wine) and sets $setup; kxbuild's
# output goes to FOLDER.kxbuild.log.
build_package() {  # project file, folder, name
  mkdir -p "$2"
  setup="$2/$3$exe"
  run "$kxbuild" "$(windows_name "$1")" -o "$(windows_name "$setup")" --target "$target" \
    --stub "$(windows_name "$engine")" >"$2.kxbuild.log" 2>&1
  [ -f "$setup" ] && chmod +x "$setup"
}

# One run of a program as a user would start it; sets $out (standard error and output, without
# carriage returns) and $code, and shows both.
run_setup() {  # program, arguments...
  out=$(run "$@" 2>&1)
  code=$?
  out=${out//$'\r'/}
  echo "--- $(basename "$1") ${*:2}: exit $code"
  echo "$out" | sed 's/^/    /'
}
contains() { echo "$out" | grep -qF -- "$1"; }
