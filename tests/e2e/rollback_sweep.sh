#!/usr/bin/env bash
# Rollback must be exact: a project (the demo by default) is installed once for every point at
# which it can fail, and each failed run must leave the machine as it found it.
#   rollback_sweep.sh host ENGINE KXBUILD KXTOOL PROJECT_DIR WORKDIR [EVERY [PROJECT_FILE [ARGS...]]]
#   rollback_sweep.sh wine ENGINE KXBUILD KXTOOL PROJECT_DIR WORKDIR [EVERY [PROJECT_FILE [ARGS...]]]
# host: first a sweep of failed operations (KX_HOST_FAIL_AT=1..N, N the count of a successful
# run), then autopilot aborts the run at each item event. wine: the abort sweep only, at every
# EVERY-th item event (default 4), since each run under Wine takes seconds. $KX_SWEEP_EVERY=K
# makes the host try every K-th failure and abort only (the sanitized build, whose runs are slow).
# PROJECT_FILE (default demo.xml) lies in PROJECT_DIR. A file sweep.sh beside it, when there is
# one, is sourced with ARGS after the defaults below are set: it may prepare the project, plant
# what the project expects on the machine, watch more and say which failures the run tolerates.
set -u
mode=$1 engine=$(realpath "$2") kxbuild=$(realpath "$3") kxtool=$(realpath "$4") demo=$5 work=$6
every=${7:-4} project_file=${8:-demo.xml}
shift $(($# < 8 ? $# : 8))
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"

if [ "$mode" = host ]; then
  export TMPDIR="$work/tmp"
  mkdir -p "$TMPDIR"
  target=host setup_name=DemoSetup exe=""
  windows_name() { echo "Z:$(echo "$1" | tr / '\\')"; }
  run() { "$@"; }
  machine="$work/machine" base="$work/machine-base"
  export KX_ROOT="$base"
  "$kxtool" reg dump >/dev/null  # makes the machine root with its skeleton
  watched=(.) watched_keys=(HKLM HKCU) time_precision=""
else
  target=win64 setup_name=DemoSetup.exe exe=.exe
  windows_name() { winepath -w "$1" 2>/dev/null; }
  run() { wine "$@"; }
  machine="$WINEPREFIX/drive_c"
  # What the demo can touch; the whole of drive_c and the registry would take seconds a look.
  watched=("./Program Files" ./users)
  watched_keys=('HKCU\Software' 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall')
  # Wine sets a file's time to the microsecond (Windows keeps 100 ns), while files that Wine
  # programs write get the nanoseconds of Linux: a restored file matches to the microsecond.
  time_precision='s/(\.[0-9]{6})[0-9]+$/\1/'
fi

# What a project's sweep.sh may change: the setup's name, the uninstall entry's AppID, the link
# files a tolerated shortcut failure leaves out, the counts of each item event at which the
# plug-in aborts, and these hooks.
app_id=KxDemo tolerated_links='Start Menu/Programs/Demo Product' silently_tolerated=""
kept_by_uninstall='^$.'  # what the uninstaller leaves on purpose (an extended regular expression)
abort_counts=(1 2 3 4 5 6 7 8)
prepare_project() { cp -r "$demo/." "$1"; }  # FOLDER: the project, ready to build
plant() { :; }                              # the machine as the project expects to find it
leave_out() { cat; }                        # what of a snapshot is not the machine's state
run_judged() { return 0; }                  # false, with $judged_problem, when a run left a
judged_problem=""                           # side effect outside the snapshot
uninstall_judged() { return 0; }            # false when the uninstaller missed what it must do
remove_traces() {                           # the machine without an install of the project
  run "$kxtool" reg del 'HKCU\Software\Kx Demo' >/dev/null 2>&1
  run "$kxtool" reg del "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$app_id" \
    >/dev/null 2>&1
  rm -rf "$machine/Program Files/Demo Product" \
    "$machine"/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Demo\ Product
}
[ -f "$demo/sweep.sh" ] && source "$demo/sweep.sh" "$@"

plant
# The project with an autopilot that answers nothing but the dialogs and traces nothing.
project="$work/project"
mkdir -p "$project"
prepare_project "$project"
sed -i '/^\[Trace\]/,/^$/d' "$project/autopilot.ini"
build_setup() {  # folder, extra autopilot.ini lines
  mkdir -p "$1"
  cp "$project/autopilot.ini" "$project/autopilot.ini.orig"
  printf '%b' "$2" >>"$project/autopilot.ini"
  run "$kxbuild" "$(windows_name "$project/$project_file")" -o "$(windows_name "$1/$setup_name")" \
    --target "$target" --stub "$(windows_name "$engine")" >"$1/kxbuild.log" 2>&1
  mv "$project/autopilot.ini.orig" "$project/autopilot.ini"
  chmod +x "$1/$setup_name"
}

# What the machine holds: every folder, every other entry with its kind, size, modification time
# and contents' hash (the registry store's file through the registry's own listing), then that
# listing.
snapshot() {
  # A folder's own time changes whenever an entry comes and goes: only its existence counts.
  (cd "$machine" && find "${watched[@]}" -path "./system.reg*" -prune -o -type d -printf 'd %p\n' \
    -o -printf '%y %p %s %T@\n' | sed -E "$time_precision" | sort)
  (cd "$machine" && find "${watched[@]}" -path "./system.reg*" -prune -o -type f -print0 | sort -z |
    xargs -0 -r sha1sum)
  for key in "${watched_keys[@]}"; do run "$kxtool" reg dump "$key" 2>/dev/null | tr -d '\r'; done |
    other_tests_out | leave_out
}

# Under Wine the other tests of the suite share the machine and may run meanwhile: their scratch
# keys and environment values are theirs, not the setup's.
other_tests_out() {
  awk '/^\[/ { skip = ($0 ~ /\\Software\\(kxsetup-tests|kxtool-reg-test)(\\|\])/) }
    !skip && !/^"KXTEST_/'
}

# The host's machine is a fresh copy each time; Wine's is the suite's, set back only after a run
# that succeeded (a failed run must have left it as it was).
fresh_machine() {
  if [ "$mode" = host ]; then
    rm -rf "$machine" && cp -a "$base" "$machine"
  elif [ "${code:-0}" -eq 0 ]; then
    plant
  fi
}

# One run of the setup at $1; sets $code and $out.
run_setup() {
  out=$(run "$1" /s 2>&1)
  code=$?
}

# A run whose failed operation the installation tolerates must still have put everything in
# place, except what is written without checking: the install log, the silent settings, the
# uninstall entry (under HKCU when HKLM refuses it).
# Files the run edits (the INI file) get the time of the run: their contents are compared.
checked_part() {
  grep -v 'install\.log\|install\.sss' | sed -E 's/^(f .*) [0-9.]+$/\1/' |
    entry='\\Uninstall(\\'"$app_id"')?\]$' awk '/^\[/ { skip = ($0 ~ ENVIRON["entry"]) } !skip'
}

# A shortcut that cannot be made is reported, and the run goes on without it; what a run may
# fail to change without a word (a removal) is left out.
without_tolerated() {
  if echo "$out" | grep -q 'Error creating shortcut'; then
    grep -vE "$tolerated_links"
  else
    cat
  fi | grep -vE "${silently_tolerated:-^\$.}"
}

# The entry goes under HKLM, or under HKCU when HKLM refuses it: never both.
one_uninstall_entry() {
  [ "$(echo "$1" | grep -ci "^\[HK[A-Z]*\\\\SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\$app_id\]$")" -le 1 ]
}

failed_cleanly=0 succeeded=0 broken=0 reference=""
judge() {  # label
  local after side_effects=""
  after=$(snapshot)
  run_judged || side_effects=$judged_problem
  if [ "$code" -eq 0 ] && { [ -z "$reference" ] ||
    [ "$(echo "$after" | checked_part | without_tolerated)" = \
      "$(echo "$reference" | checked_part | without_tolerated)" ]; } &&
    one_uninstall_entry "$after"; then
    succeeded=$((succeeded + 1))
  elif [ "$code" -eq 255 ] && [ "$after" = "$before" ] && [ -z "$side_effects" ]; then
    failed_cleanly=$((failed_cleanly + 1))
  else
    broken=$((broken + 1))
    echo "--- $1: exit $code${side_effects:+; $side_effects}"
    echo "$out" | sed 's/^/    /' | head -20
    if [ "$code" -eq 0 ] && [ -n "$reference" ]; then  # against what a whole run leaves
      diff <(echo "$reference" | checked_part | without_tolerated) \
        <(echo "$after" | checked_part | without_tolerated) | head -20 | sed 's/^/    /'
    else
      diff <(echo "$before") <(echo "$after") | head -20 | sed 's/^/    /'
    fi
  fi
}

# --- Failed operations (host)
if [ "$mode" = host ]; then
  build_setup "$work/plain" ""
  fresh_machine
  export KX_ROOT="$machine"
  before=$(snapshot)
  KX_HOST_COUNT_OPS="$work/count" run_setup "$work/plain/$setup_name"
  check "the project installs: exit 0" [ "$code" -eq 0 ]
  reference=$(snapshot)
  run_judged || true  # what the whole run left outside the machine is not the next run's
  total=$(tail -1 "$work/count" 2>/dev/null || echo 0)
  check "a successful run counts its mutating operations" [ "$total" -gt 0 ]
  for ((n = 1; n <= total; n += ${KX_SWEEP_EVERY:-1})); do
    fresh_machine
    KX_HOST_FAIL_AT=$n run_setup "$work/plain/$setup_name"
    judge "operation $n fails"
  done
  echo "failed operations: N=1..$total: $failed_cleanly failed and were rolled back exactly," \
    "$succeeded succeeded with everything in place, $broken did neither"
  reference=""
  check "every failed operation is rolled back exactly or tolerated" [ "$broken" -eq 0 ]
  check "some failures end the run" [ "$failed_cleanly" -gt 0 ]
fi

# --- Aborts by the plug-in at each item event
events=(EV_BEFOREPROCESSITEMS EV_BEFOREPROCESSITEM EV_AFTERPROCESSITEM EV_FILEINSTALLPROGRESS)
failed_cleanly=0 succeeded=0 broken=0 runs=0 index=0
for event in "${events[@]}"; do
  for count in "${abort_counts[@]}"; do
    index=$((index + 1))
    if [ "$mode" = host ]; then
      [ $((index % ${KX_SWEEP_EVERY:-1})) -eq 0 ] || continue
    else
      [ $((index % every)) -eq 0 ] || continue
    fi
    dir="$work/abort-$event-$count"
    build_setup "$dir" "\n[Abort]\nEvent=$event\nCount=$count\n"
    fresh_machine
    before=$(snapshot)
    run_setup "$dir/$setup_name"
    runs=$((runs + 1))
    # Under Wine a run that succeeded (the event came fewer times) leaves the project installed
    # until the next run sets the machine back (the demo plants nothing, so the next runs of
    # the demo install over it: their rollback must bring the old files back too).
    judge "abort at $event #$count"
  done
done
echo "aborts: $runs runs: $failed_cleanly rolled back exactly, $succeeded succeeded (the event" \
  "came fewer times), $broken left the machine changed"
check "every abort is rolled back exactly" [ "$broken" -eq 0 ]
check "aborts end runs" [ "$failed_cleanly" -gt 0 ]

# --- Installed, then removed silently by the uninstaller the installation left, as the uninstall
# entry's QuietUninstallString starts it: the machine is as it was, apart from what the
# uninstaller keeps on purpose, and the copy of itself that it leaves in the temporary folder for
# the next start of Windows.
quiet_command() {
  local root
  for root in HKLM HKCU; do
    run "$kxtool" reg get "$root\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$app_id" \
      QuietUninstallString 2>/dev/null | tr -d '\r' && return
  done
}
# Wine's menu entries for links (HKCU\Software\Wine\MenuFiles) are Wine's own, made when a link
# appears and never taken back.
without_kept() {
  grep -vE "$kept_by_uninstall" | grep -vE '/kxu[^/ ]*\.exe( |$)' |
    awk '/^\[/ { skip = ($0 ~ /\\Software\\Wine\\MenuFiles\]$/) } !skip'
}
build_setup "$work/whole" ""
code=0 && fresh_machine
[ "$mode" = host ] && export KX_ROOT="$machine"
remove_traces
before=$(snapshot)
run_setup "$work/whole/$setup_name"
check "installed for the uninstaller: exit 0" [ "$code" -eq 0 ]
command=$(quiet_command)
uninstaller=$(echo "$command" | sed -n 's/^"\([^"]*\)".*/\1/p')
log=$(echo "$command" | sed -n 's/^"[^"]*" "\([^"]*\)".*/\1/p')
if [ "$mode" = host ]; then
  uninstaller_file="$machine/drive_c$(echo "${uninstaller:2}" | tr '\\' /)"
  out=$("$uninstaller_file" "$log" /s 2>&1)
else
  uninstaller_file=$(winepath -u "$uninstaller" 2>/dev/null)
  out=$(wine "$uninstaller" "$log" /s 2>&1)
fi
code=$?
echo "--- $command: exit $code"
check "the uninstall entry names the uninstaller, silent" \
  bash -c '[[ $1 == *" /s" ]] && [ -n "$2" ]' _ "$command" "$log"
check "the uninstaller removes everything: exit 0" [ "$code" -eq 0 ]
for _ in $(seq 50); do [ -e "$uninstaller_file" ] || break; sleep 0.2; done
after=$(snapshot)
check "after the uninstaller the machine is as it was" \
  listing_is "$(echo "$before" | without_kept)" "$(echo "$after" | without_kept)"
# Judged as a failed run is: every registration undone.
registrations_undone() { local code=255; run_judged || { echo "    $judged_problem"; false; }; }
check "the uninstaller unregisters the server as often as it was registered" registrations_undone
check "the uninstaller does what the project asks of it besides" uninstall_judged
finish
