#!/usr/bin/env bash
# The checks before a run installs anything, through the engine program: the supported systems,
# the minimum version, the administrator's rights, the project's launch conditions with and
# without a message, and a plug-in that refuses. A refused run shows its warning (the silent run
# prints the box's text), exits with -1, sends no EV_START, and installs nothing.
#   launch.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR
# host: the Windows version is $KX_WINVER and the administrator $KX_ADMIN (or root).
# wine: the Windows version is the one winecfg sets, Wine's "Version" in HKCU\Software\Wine; it is
# put back as found at the end, since the prefix is shared.
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$6
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"
install_dir="$program_files/Launch Product"
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\KxLaunch'
rm -rf "$install_dir"
export KX_AUTOPILOT_TRACE
KX_AUTOPILOT_TRACE=$(windows_name "$work/trace.jsonl")

# The demo under its own name, with two launch conditions that the silent settings can break:
# RuleA with a message, RuleB without one.
build() {  # folder, launch answer of autopilot
  local project="$work/$1-project"
  rm -rf "$project" && cp -r "$demo" "$project"
  sed -i -e 's|Demo Product|Launch Product|g' -e 's|KxDemo|KxLaunch|' \
    -e 's|<var name="AppName"|<var name="RuleA" value="1"/><var name="RuleB" value="1"/>&|' \
    -e 's|^  <packages>|  <launchconditions>\
    <launchcondition condition="%RuleA%" msg="%AppName% keeps to rule A."/>\
    <launchcondition condition="%RuleB%" msg=""/>\
  </launchconditions>\
&|' "$project/demo.xml"
  sed -i "s|^\[Answers\]|&\nLaunchConditions=$2|" "$project/autopilot.ini"
  build_package "$project/demo.xml" "$work/$1" LaunchSetup
}
build built pass
check "kxbuild builds the package" [ -f "$setup" ]
passing_setup=$setup
build refusing refuse
check "kxbuild builds the package whose plug-in refuses" [ -f "$setup" ]
refusing_setup=$setup

# Variables for the next run, as an administrator gives them to a silent install: the silent
# settings beside the setup program.
settings() {  # name=value...
  local vars="" pair
  for pair in "$@"; do vars+="<var name=\"${pair%%=*}\" value=\"${pair#*=}\"/>"; done
  printf '<silentsettings><variables>%s</variables></silentsettings>\r\n' "$vars" \
    >"${passing_setup%$exe}.sss"
}
events() { [ -f "$work/trace.jsonl" ] && sed -n 's/.*"event":"\([A-Z_]*\)".*/\1/p' "$work/trace.jsonl" | paste -sd, -; }
nothing_installed() { [ ! -e "$install_dir" ] && ! run "$kxtool" reg list "$uninstall_key" >/dev/null 2>&1; }
uninstall() { remove_installation "$install_dir" 'HKCU\Software\Kx Demo\Launch Product' "$uninstall_key"; }

refused() {  # what, message (empty: none), setup program
  local what=$1 message=$2
  rm -f "$work/trace.jsonl"
  run_setup "${3:-$passing_setup}" /s
  check "$what: exit -1" [ "$code" -eq 255 ]
  if [ -n "$message" ]; then
    check "$what: says \"$message\"" contains "$message"
  else
    check "$what: no box" [ -z "$out" ]
  fi
  check "$what: nothing installed" nothing_installed
  check "$what: the plug-ins were loaded, and no EV_START" \
    bash -c '[ -f "$1" ] && ! grep -q "\"EV_START\"" "$1"' _ "$work/trace.jsonl"
}
installs() {  # what
  rm -f "$work/trace.jsonl"
  run_setup "$passing_setup" /s
  check "$1: exit 0" [ "$code" -eq 0 ]
  check "$1: installed" [ -f "$install_dir/install.log" ]
  check "$1: the plug-ins had their word before EV_START" \
    bash -c '[[ "$1" == *EV_CHECKLAUNCHCONDITIONS,EV_START,* ]]' _ "$(events)"
  uninstall
}

# --- SupportedOS
settings SupportedOS=9x,ME
refused "a family that excludes this machine" "This operating system is not supported!"
check "the plug-ins are not asked once the engine refused" \
  bash -c '! grep -q EV_CHECKLAUNCHCONDITIONS "$1"' _ "$work/trace.jsonl"
settings "SupportedOS=NT, 9X"
installs "the NT family admits this machine"
settings "SupportedOS=9X, NT"
refused "a token with a blank is another token" "This operating system is not supported!"

# --- MinOSVersion, on Windows Vista SP2 (6.0.6002): neither machine's own version.
if [ "$mode" = host ]; then
  export KX_WINVER=6.0.6002
  restore_version() { unset KX_WINVER; }
else
  # Wine reads its version at each start of a program; winecfg writes it here.
  wine_key='HKCU\Software\Wine'
  old_version=$(wine reg query "$wine_key" /v Version 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Version *REG_SZ *//p')
  restore_version() {
    if [ -n "$old_version" ]; then
      wine reg add "$wine_key" /v Version /d "$old_version" /f >/dev/null 2>&1
    else
      wine reg delete "$wine_key" /v Version /f >/dev/null 2>&1
    fi
  }
  trap restore_version EXIT
  wine reg add "$wine_key" /v Version /d vista /f >/dev/null 2>&1
fi
settings MinOSVersion=6.1
refused "Windows 7 asked for on Vista" "Version 6.1 or newer is needed for Launch Product."
settings MinOSVersion=6.0.6003
refused "a later build asked for" "Version 6.0.6003 or newer is needed for Launch Product."
settings MinOSVersion=6.0.6002
installs "Vista SP2 asked for on itself"
settings MinOSVersion=5.x.9999
installs "a larger minor version passes whatever build is asked for"
settings SupportedOS=XP
installs "Vista counts as XP"
settings SupportedOS=2K
refused "Vista is not 2000" "This operating system is not supported!"
restore_version
# Back on the machine's own version: Windows XP on the host; under Wine what the prefix had,
# Windows 7 or later.
if [ "$mode" = host ]; then
  settings MinOSVersion=5.1.2600
  installs "the machine's own version back"
  settings MinOSVersion=6.0
  refused "the machine's own version back: Vista asked for" \
    "Version 6.0 or newer is needed for Launch Product."
else
  settings MinOSVersion=6.1
  installs "the machine's own version back"
fi

# --- AdminRights
settings AdminRights=1
if [ "$mode" = host ]; then
  KX_ADMIN=0 refused "an ordinary user" \
    "You need to have administrative rights on this computer to install this application."
  KX_ADMIN=1 installs "\$KX_ADMIN counts as an administrator"
  if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    installs "root is an administrator"
    # A real ordinary user, with the machine open to it.
    chmod -R a+rwX "$work"
    nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }
    rm -f "$work/trace.jsonl"
    out=$(nobody "$passing_setup" /s 2>&1)
    code=$?
    echo "--- as nobody: exit $code"; echo "$out" | sed 's/^/    /'
    check "not root and without \$KX_ADMIN: exit -1" [ "$code" -eq 255 ]
    check "not root and without \$KX_ADMIN: refused" contains "administrative rights"
    check "not root and without \$KX_ADMIN: nothing installed" nothing_installed
  else
    refused "not root and without \$KX_ADMIN" \
      "You need to have administrative rights on this computer to install this application."
  fi
else
  installs "Wine's user is an administrator"
fi
settings AdminRights=0
KX_ADMIN=0 installs "no rights needed: anybody installs"

# --- Launch conditions and the plug-ins' word
settings RuleA=0
refused "a launch condition with its message" "Launch Product keeps to rule A."
settings RuleB=0
refused "a launch condition without a message" ""
settings RuleA=1 RuleB=1
installs "both launch conditions hold"
settings
refused "a plug-in refuses" "" "$refusing_setup"
check "the plug-in answered the launch question with 1" \
  grep -q '"event":"EV_CHECKLAUNCHCONDITIONS".*"answer":1' "$work/trace.jsonl"

uninstall
finish
