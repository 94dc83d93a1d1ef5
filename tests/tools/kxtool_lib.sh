# Shared by the kxtool script tests; sourced with KXTOOL and WORKDIR as the script's $1 and $2.
# A KXTOOL ending in ".exe" is run under Wine ($WINEPREFIX must be initialised), with Windows
# paths; otherwise natively, with a machine root of its own under WORKDIR.
set -u
kxtool=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
passed=0 failed=0

check() {  # description, command...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "FAILED: $what"
  fi
}

if [[ $kxtool == *.exe ]]; then
  windows_dir=$(winepath -u 'C:\windows' 2>/dev/null)
  file_arg() { winepath -w "$1" 2>/dev/null; }
  run_kxtool() { wine "$kxtool" "$@"; }
else
  export KX_ROOT="$work/machine"
  windows_dir="$KX_ROOT/drive_c/windows"
  file_arg() { echo "$1"; }
  run_kxtool() { "$kxtool" "$@"; }
fi

# Each run: kxtool's arguments. Standard output (raw bytes: kxtool writes it in binary mode) stays
# in $work/stdout and in $out; the message, without the CRs a Windows console adds, in $err; the
# exit code in $code.
kx() {
  run_kxtool "$@" >"$work/stdout" 2>"$work/stderr"
  code=$?
  out=$(cat "$work/stdout")
  err=$(tr -d '\r' <"$work/stderr")
}

make_file() { printf "$2" >"$1"; }                    # a file from printf-style text
file_is() { cmp -s "$1" <(printf "$2"); }             # the file holds exactly that text
output_is() { cmp -s "$work/stdout" <(printf "$1"); } # standard output, byte for byte
output_empty() { [ ! -s "$work/stdout" ]; }
stderr_is() { [ "$err" = "$1" ]; }
stderr_has() { echo "$err" | grep -qF "$1"; }
