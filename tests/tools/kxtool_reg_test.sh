#!/usr/bin/env bash
# Drives `kxtool reg` as a test of an installation would: values of every type set, read, listed
# and dumped, then deleted, and the registry compared with how it was before.
#   kxtool_reg_test.sh KXTOOL WORKDIR
# A KXTOOL ending in ".exe" is run under Wine ($WINEPREFIX must be initialised) on Wine's
# registry; otherwise natively, on the registry store of a machine root of its own.
source "$(dirname "$0")/kxtool_lib.sh" "$@"
output_is() { [ "$out" = "$(printf '%s' "$1")" ] || { echo "  got: $out"; false; }; }

key='HKCU\Software\kxtool-reg-test'
# Wine's whole registry is large: there the comparison covers HKCU\Software, without the
# scratch keys of the unit tests, which may run meanwhile.
whole=()
[[ $kxtool == *.exe ]] && whole=('HKCU\Software')
dump_whole() {
  kx reg dump "${whole[@]}"
  awk '/^\[/ { skip = ($0 ~ /\\Software\\kxsetup-tests(\\|\])/) } !skip' "$work/stdout" >"$work/whole"
}
run_kxtool reg del "$key" >/dev/null 2>&1

dump_whole
check "dump exits 0" [ "$code" -eq 0 ]
cp "$work/whole" "$work/before"
kx reg dump "$key"
check "dump of a missing key exits 1" [ "$code" -eq 1 ]
check "... naming it" stderr_is "kxtool reg: no key $key"

# --- one value of each type, the default value, a subkey; the root's name in any case
kx reg set "$key" Name str 'C:\Program Files\"x"'
check "set exits 0 and prints nothing" [ "$code" -eq 0 ] && output_is ''
run_kxtool reg set "$key" Path expand '%WINDIR%\system32'
run_kxtool reg set "$key" Count int 4294967295
run_kxtool reg set "$key" Small int '$2A'
run_kxtool reg set "$key" Blob bin '01 ab FF'
run_kxtool reg set "$key" Lines mstr $'one\r\ntwo'
run_kxtool reg set "hkcu\\Software\\kxtool-reg-test\\Sub" '' str default
run_kxtool reg set "$key" empty str ''

kx reg get "$key" Name
check "get str" output_is 'C:\Program Files\"x"'
kx reg get "$key" Path
check "get expand" output_is '%WINDIR%\system32'
kx reg get "$key" Count
check "get int, unsigned" output_is 4294967295
kx reg get "$key" Small
check "get int from hex" output_is 42
kx reg get "$key" Blob
check "get bin as hex digits" output_is 01ABFF
kx reg get "$key" Lines
check "get mstr, lines joined by CR LF" cmp -s "$work/stdout" <(printf 'one\r\ntwo\n')
kx reg get "$key\\Sub"
check "get without VALUE reads the default value" output_is default

values='"Blob" bin 01ABFF
"Count" int 4294967295
"empty" str ""
"Lines" mstr "one\r\ntwo"
"Name" str "C:\\Program Files\\\"x\""
"Path" expand "%WINDIR%\\system32"
"Small" int 42'
kx reg list "$key"
check "list: subkeys, then values sorted without regard to case" output_is "Sub\\
$values"
kx reg dump "$key"
check "dump: every key with its values" output_is "[$key]
$values
[$key\\Sub]
\"\" str \"default\""
dump_whole
check "the whole dump holds the new key" grep -qxF "[$key\\Sub]" "$work/whole"

# --- deleting
kx reg del "$key" Count
check "del VALUE exits 0" [ "$code" -eq 0 ]
kx reg get "$key" Count
check "a deleted value is missing: exit 1" [ "$code" -eq 1 ]
check "... naming it" stderr_is "kxtool reg: no value \"Count\" in $key"
kx reg del "$key" Count
check "deleting a missing value exits 1" [ "$code" -eq 1 ]
kx reg del "$key"
check "del KEY deletes it with its subkeys" [ "$code" -eq 0 ]
kx reg list "$key"
check "a deleted key is missing: exit 1" [ "$code" -eq 1 ]
dump_whole
check "the registry is as it was" cmp -s "$work/before" "$work/whole"

# --- bad usage changes nothing
for bad in "set $key v qword 1" "set $key v int 12abc" "set $key v bin 0G" "set $key v bin 123" \
  "set $key v str" "get" "frob $key" "dump a b"; do
  kx reg $bad
  check "\"reg $bad\" is bad usage: exit 2" [ "$code" -eq 2 ]
done
kx reg
check "no operation is bad usage" [ "$code" -eq 2 ] && stderr_has "usage: kxtool reg"
kx reg del HKLM
check "a root is never deleted" [ "$code" -eq 2 ]
dump_whole
check "... and nothing was written" cmp -s "$work/before" "$work/whole"

# --- the host layer's fault switch, seen through a program
if [[ $kxtool != *.exe ]]; then
  counts=$work/counts
  KX_HOST_COUNT_OPS=$counts run_kxtool reg set "$key" v str x
  KX_HOST_COUNT_OPS=$counts run_kxtool reg get "$key" v >/dev/null
  KX_HOST_COUNT_OPS=$counts run_kxtool reg del "$key" v
  check "a set counts the key and the value, a read nothing, a del the value" \
    cmp -s "$counts" <(printf '2\n0\n1\n')
  for n in 1 2; do
    KX_HOST_FAIL_AT=$n kx reg set "$key" w str x
    check "KX_HOST_FAIL_AT=$n fails the set" [ "$code" -eq 2 ] && stderr_has "Access is denied"
  done
  KX_HOST_FAIL_AT=3 kx reg set "$key" w str x
  check "KX_HOST_FAIL_AT beyond the changes fails nothing" [ "$code" -eq 0 ]
  run_kxtool reg del "$key"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
