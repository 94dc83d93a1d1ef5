# The rollback sweep's view of the items project (sourced by rollback_sweep.sh with the
# arguments SERVER FONT): the project built from the tree, the machine planted with what it
# expects, every area it touches watched, and the recording server's calls judged apart.
items_server=$1 items_font=$2
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
setup_name=ItemsSetup$exe app_id=$items_app_id
# Either shortcut may be the one that could not be made.
tolerated_links='Programs/Items Product|Desktop/Items Helper'
# A removal that fails is not reported: the run goes on with the value in place.
silently_tolerated='^"Obsolete" str'
# The item events come more often than the demo's: counts that reach the last phases too.
abort_counts=(1 2 3 5 8 12 17 23 30)
prepare_project() { items_prepare "$1"; }
plant() { items_reset; }
if [ "$mode" = host ]; then
  export KX_TEST_SERVER_CALLS="$work/server.calls"
  server_calls() { cut -c1 "$KX_TEST_SERVER_CALLS" 2>/dev/null | tr -d '\n'; rm -f "$KX_TEST_SERVER_CALLS"; }
else
  # Everything the project touches beyond the demo's areas, each looked at narrowly.
  watched+=(./windows/Fonts/kxitemsfont.ttf)
  watched_keys=('HKCU\Software' 'HKCU\Environment'
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$items_app_id"
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts")
  server_calls() {
    local path
    path=$(items_server_path)
    items_kx reg get 'HKCU\Software\KxTests\RecordingServer' "$path"
    items_kx reg del 'HKCU\Software\KxTests\RecordingServer' "$path" >/dev/null
  }
fi
# The recording server's record of its calls is the test's, not the machine's.
leave_out() { awk '/^\[/ { skip = ($0 ~ /\\KxTests\\RecordingServer\]$/) } !skip'; }
# A failed run unregisters the server as often as it registered it.
run_judged() {
  local calls plus minus
  calls=$(server_calls)
  plus=${calls//[^+]/} minus=${calls//[^-]/}
  [ "$code" -eq 0 ] || [ ${#plus} -eq ${#minus} ] && return 0
  judged_problem="the server's calls were '$calls'"
  return 1
}
# Kept by the uninstaller on purpose: the planted value the run removed and the one it changed
# (only values it made are its to remove), and the planted INI file it edited.
kept_by_uninstall='^"(Obsolete|Path)" |/planted\.ini( |$)'
# The programs of the uninstaller ran, before and after the removal, after those of the install.
uninstall_judged() {
  local marks
  marks=$(tr -d '\r ' <"$KX_ITEMS_MARKS" 2>/dev/null | paste -sd, -)
  [[ $marks == *before,after,unbefore,unafter ]] || { echo "    marks: $marks"; false; }
}
remove_traces() { items_reset; }
