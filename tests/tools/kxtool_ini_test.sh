#!/usr/bin/env bash
# Drives `kxtool ini` as a user would and checks its output, exit codes and the files it leaves.
#   kxtool_ini_test.sh KXTOOL WORKDIR
# A KXTOOL ending in ".exe" is run under Wine ($WINEPREFIX must be initialised), with Windows
# paths; otherwise natively, with a machine root of its own under WORKDIR.
source "$(dirname "$0")/kxtool_lib.sh" "$@"
# Query output is compared as text: trailing line ends are not part of it.
output_is() { [ "$out" = "$(printf "$1")" ]; }

ini="$work/test.ini"
f=$(file_arg "$ini")

# --- queries print their lines, then "--"; nothing is written
make_file "$ini" '[Main]\r\nName = Value\r\nq="quoted"\r\n\r\n[Other]\r\nk=1\r\n'
kx ini "$f" get main NAME dflt get Main missing dflt get nosuch k dflt
check "get prints the value or the default" output_is 'Value\n--\ndflt\n--\ndflt\n--'
check "get exits 0" [ "$code" -eq 0 ]
check "queries leave the file untouched" \
  file_is "$ini" '[Main]\r\nName = Value\r\nq="quoted"\r\n\r\n[Other]\r\nk=1\r\n'

kx ini "$f" sections keys main values MAIN keys nosuch values nosuch
check "sections, keys, values" \
  output_is 'Main\nOther\n--\nName\nq\n--\nName=Value\nq="quoted"\n--\n--\n--'

kx ini "$f" get Main q -
check "quotes are kept by default" output_is '"quoted"\n--'
kx ini --unquote "$f" get Main q -
check "--unquote removes them" output_is 'quoted\n--'

# --- readint
make_file "$ini" '[n]\ndec=42\nhex=0x1F\ndollar=$10\nneg=-7\nbad=12abc\n'
kx ini "$f" readint n dec 0 readint n hex 0 readint n dollar 0 readint n neg 0 \
  readint n bad 5 readint n missing -3
check "readint reads decimal and hexadecimal, else the default" \
  output_is '42\n--\n31\n--\n16\n--\n-7\n--\n5\n--\n-3\n--'
kx ini "$f" readint n dec notanumber
check "readint with a non-integer default is bad usage" [ "$code" -eq 2 ]

# --- writes: the whole file is rewritten with CR LF line ends
rm -f "$ini"
kx ini "$f" set S a 1 set S b "two words" set T c 3
check "set exits 0" [ "$code" -eq 0 ]
check "set creates the file" file_is "$ini" '[S]\r\na=1\r\nb=two words\r\n\r\n[T]\r\nc=3\r\n\r\n'
check "set prints nothing" [ -z "$out" ]

kx ini "$f" set s A 9 get S a - del s b erase t get t c gone
check "operations apply in order" output_is '9\n--\ngone\n--'
check "set replaces, del removes, erase drops the section" file_is "$ini" '[S]\r\nA=9\r\n\r\n'

kx ini "$f" set S "" ""
check "set with an empty key erases the section" file_is "$ini" ''

# --- mended line rules: LF line ends, comments, duplicate sections
make_file "$ini" '; header comment\nstray=dropped\n[a]\n; about x\nx = 1\n\nnoequals\n[b]\ny=2\n[A]\nx=3\nz=4\n'
kx ini "$f" get a x - get a z - values a
check "LF lines, duplicates merged, comments hidden" output_is '1\n--\n4\n--\nx=1\nx=3\nz=4\n--'
kx ini "$f" set b w 5
check "write-back keeps comments and every line of duplicate sections" file_is "$ini" \
  '; header comment\r\n\r\n[a]\r\n; about x\r\nx=1\r\nx=3\r\nz=4\r\n\r\n[b]\r\ny=2\r\nw=5\r\n\r\n'

make_file "$ini" '[a]\rk=1\rj=2\r'
kx ini "$f" keys a
check "CR-only lines" output_is 'k\nj\n--'

# --- a bare name is a file in the Windows folder
bare="kxtool_ini_test_$$.ini"
rm -f "$windows_dir/$bare"
kx ini "$bare" set s k v
check "a bare name is written to the Windows folder" file_is "$windows_dir/$bare" '[s]\r\nk=v\r\n\r\n'
rm -f "$windows_dir/$bare"

# --- failures
make_file "$work/blocker" 'a file, not a folder'
kx ini "$(file_arg "$work/blocker/sub.ini")" set s k v
check "an unwritable file exits 2" [ "$code" -eq 2 ]
check "an unwritable file is reported on stderr" stderr_has "Cannot write file"

make_file "$ini" '[s]\r\nk=1\r\n'
kx ini "$f" set s k 2 bogus
check "an unknown operation exits 2" [ "$code" -eq 2 ]
check "bad usage writes nothing" file_is "$ini" '[s]\r\nk=1\r\n'
kx ini "$f" set s k
check "an operation short of arguments exits 2" [ "$code" -eq 2 ]
kx ini "$f"
check "no operation exits 2" [ "$code" -eq 2 ]
kx ini
check "no file exits 2" [ "$code" -eq 2 ]
kx frobnicate
check "an unknown verb exits 2" [ "$code" -eq 2 ]
check "an unknown verb shows the usage on stderr" stderr_has "usage: kxtool"
kx
check "no verb exits 2" [ "$code" -eq 2 ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
