#!/usr/bin/env bash
# Runs the engine program as a user would and checks what it leaves behind.
#   run_engine.sh host|wine ENGINE CABINET WORKDIR
# host: the Linux engine with its own machine root and temporary folder.
# wine: the Windows engine under Wine ($WINEPREFIX must be initialised).
set -u
mode=$1 engine=$2 cabinet=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
passed=0 failed=0

check() {  # description, condition...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok: $what"
  else
    failed=$((failed + 1)); echo "FAILED: $what"
  fi
}

if [ "$mode" = host ]; then
  export KX_ROOT="$work/machine" TMPDIR="$work/tmp"
  mkdir -p "$TMPDIR"
  temp_dir=$TMPDIR
  windows_name() { echo "Z:$(echo "$1" | tr / '\\')"; }
  run() { "$@"; }
else
  temp_dir=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
  mkdir -p "$temp_dir"
  windows_name() { winepath -w "$1" 2>/dev/null; }
  run() { wine "$@"; }
fi

# Each run: the program, its arguments; sets $out (standard error and output) and $code.
run_engine() {
  local before
  before=$(ls -A "$temp_dir" | sort)
  out=$(run "$@" 2>&1)
  code=$?
  leftover=$(comm -13 <(echo "$before") <(ls -A "$temp_dir" | sort))
  echo "--- $(basename "$1") ${*:2}: exit $code"
  echo "$out" | sed 's/^/    /'
}

contains() { echo "$out" | grep -qF "$1"; }

# A bare engine carries no package: the check finds no trailer.
bare="$work/bare-setup.exe"
cp "$engine" "$bare"
run_engine "$bare"
check "bare engine fails with exit code -1" [ "$code" -eq 255 ]
check "bare engine is an invalid package" contains "Invalid package size!"
check "bare engine removes its temporary folder" [ -z "$leftover" ]

# Engine + cabinet + trailer (built size, presetup size, data size, marker): the presetup files
# come out, then the missing package database stops the run.
package="$work/demo-setup.exe"
cp "$engine" "$package"
cat "$cabinet" >>"$package"
size=$(stat -c %s "$package")
presetup=$(awk -F'\t' '{ s += $2 } END { print s }' "$(dirname "$cabinet")/manifest.txt")
perl -e 'print pack("VVV", $ARGV[1], $ARGV[0], 0), "KXPEND"' "$presetup" $((size + 18)) >>"$package"
run_engine "$package"
check "package run fails with exit code -1" [ "$code" -eq 255 ]
check "package run extracted its presetup files" contains "Can't read the package database"
check "package run names its database" contains 'demo-setup\db.pdb'
check "package run removes its temporary folder" [ -z "$leftover" ]

# Resume from a folder that holds no saved run: the folder is ours, so it goes.
own="$temp_dir/00000000"
mkdir -p "$own"
run_engine "$package" "/resume:$(windows_name "$own")"
check "resume without saved state fails" contains "Cannot resume installation."
check "resume without saved state exits with -1" [ "$code" -eq 255 ]
check "resume removes the suspended run's folder" [ ! -e "$own" ]

# A folder that cannot be one of ours is never deleted, whatever the command line says.
foreign="$work/precious"
mkdir -p "$foreign" && echo keep >"$foreign/keep.txt"
run_engine "$package" "/RESUME:\"$(windows_name "$foreign")\""
check "resume names a foreign folder: fails" contains "Cannot resume installation."
check "resume never deletes a foreign folder" [ -f "$foreign/keep.txt" ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
