#!/usr/bin/env bash
# Drives `kxtool eval` and `kxtool expand` as a vendor would: results, exact error bytes, exit codes.
#   kxtool_eval_test.sh KXTOOL WORKDIR
source "$(dirname "$0")/kxtool_lib.sh" "$@"
stderr_bytes_are() { cmp -s "$work/stderr" <(printf "$1"); }

# --- evaluation: priorities, the two-slot folding, numbers, variables
kx eval "1 + 2 * 3"
check "eval prints the result" output_is '7\n'
check "eval exits 0" [ "$code" -eq 0 ]
kx eval "1 and 3 = 1 + 2"
check "only two infix operators wait" output_is '0\n'
kx eval "10 / 4"
check "decimal results use a point" output_is '2.5\n'
kx eval --var A=5 --var b=%A%0 "%B% * 2 + %a%"
check "variables expand in operands, names ignore case" output_is '105\n'
kx eval 'CompareVersion("65535.0", "1.0") & "," & CompareVersion("1.10", "1.9")'
check "version halves compare unsigned" output_is '1,1\n'
kx eval 'SubStr("abcdef", 2, 3) & FindSubStr("Hello", "LL", 1)'
check "text functions" output_is 'bcd3\n'
kx eval ''
check "an empty expression gives the empty text" output_is '\n'

# --- errors: the message alone on standard error, byte for byte, exit 2
kx eval "FileExists()"
check "syntax error exits 2" [ "$code" -eq 2 ]
check "syntax error names the position" stderr_bytes_are 'Syntax error.\r\nPosition 12.\n'
check "nothing on stdout after an error" output_empty
kx eval "1 / 0"
check "arithmetic errors exit 2" [ "$code" -eq 2 ]
check "arithmetic errors say so" [ -n "$err" ]
kx eval 'Round(1e20)'
check "Round beyond 32 bits fails" [ "$code" -eq 2 ]

# --- numbers beyond the range of a double are still numbers; only the extended range overflows
kx eval "+1e400"
check "a big number is written" output_is '1E+400\n'
kx eval "1e300 * 1e300"
check "a product beyond the double range is written" output_is '1E+600\n'
kx eval "1e4000 * 1e4000"
check "overflow of the extended range exits 2" [ "$code" -eq 2 ]
check "overflow says so" stderr_is 'Floating point overflow.'

# --- a wrong argument count is reported at its ")"
kx eval 'Iif(1, 2) & x'
check "argument count error at the parenthesis" stderr_bytes_are 'Syntax error.\r\nPosition 9.\n'

# --- FileSize: the first entry that matches, folders included
mkdir -p "$work/files/sub"
make_file "$work/files/data.bin" '1234567'
files=$(file_arg "$work/files")
kx eval "FileSize(\"$files/d*.bin\") & \",\" & FileSize(\"$files/sub\") & \",\" & FileSize(\"$files/x*\")"
check "FileSize takes wildcards and gives folders 0" output_is '7,0,-1\n'

# --- a file another Linux program holds an flock on is in use: it is not renamed (host only)
if [[ $kxtool != *.exe ]]; then
  not_moved() { [ -f "$work/held.txt" ] && [ ! -e "$work/moved.txt" ]; }
  moved() { [ ! -e "$work/held.txt" ] && [ -f "$work/moved.txt" ]; }
  make_file "$work/held.txt" 'data'
  exec {held}<"$work/held.txt"
  flock -s "$held"
  kx eval "RenameFile(\"$work/held.txt\", \"$work/moved.txt\", 0)"
  check "a file held by an flock stays where it is" not_moved
  exec {held}<&-
  kx eval "RenameFile(\"$work/held.txt\", \"$work/moved.txt\", 0)"
  check "once released it is renamed" moved
fi

# --- expansion
kx expand --var Name=World 'Hello %Name%||100%% %Unknown% 50%'
check "expand prints the text" output_is 'Hello World\r\n100%% %%Unknown%% 50%%\n'
kx expand --var Self=%SELF% 'x%Self%'
check "a self reference stays" output_is 'x%%SELF%%\n'
kx expand --var A=%B% --var B=%A% '%A%'
check "mutual references exit 2" [ "$code" -eq 2 ]
check "mutual references are named" stderr_has 'Infinite reference in the string "%'

# --- usage
kx eval
check "eval without input is a usage error" [ "$code" -eq 2 ]
kx expand --var NoEquals text
check "a --var without = is a usage error" [ "$code" -eq 2 ]
check "usage errors explain" stderr_has 'NAME=VALUE'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
