#!/usr/bin/env bash
# Drives `kxtool encipher`, `kxtool decipher` and `kxtool haval` as a vendor would: files made and
# read back byte for byte, the digest's exact output, exit codes and messages.
#   kxtool_cipher_test.sh KXTOOL WORKDIR
source "$(dirname "$0")/kxtool_lib.sh" "$@"

# The same bytes come out natively and under Wine; these pin the format that packages already
# built depend on.
empty_digest=5981d3f8cce7f5674752595f4ad24c184ba1c738c986d4d2eddf2bd86c3f8679
abc_digest=4abaef95a29102e6ca3c47f0ebacd3fb7afc6ca2d14305d7a08a470ccde62185

# --- haval: 64 lower-case hex digits and a line feed, of a file or of standard input
make_file "$work/empty" ''
make_file "$work/abc" 'abc'
kx haval "$(file_arg "$work/empty")"
check "haval of an empty file" output_is "$empty_digest\n"
check "haval exits 0" [ "$code" -eq 0 ]
kx haval "$(file_arg "$work/abc")"
check "haval of a file" output_is "$abc_digest\n"
run_kxtool haval <"$work/abc" >"$work/stdout" 2>"$work/stderr"
check "haval of standard input" output_is "$abc_digest\n"
# Standard input is read byte for byte: no CR LF or Ctrl-Z translation on Windows either.
printf 'a\r\nb\032c' >"$work/crlf"
kx haval "$(file_arg "$work/crlf")"
crlf_digest=$out
run_kxtool haval <"$work/crlf" >"$work/stdout" 2>"$work/stderr"
check "standard input is read byte for byte" output_is "$crlf_digest\n"
run_kxtool haval </dev/null >"$work/stdout" 2>"$work/stderr"
check "haval of empty standard input" output_is "$empty_digest\n"
head -c 300000 /dev/urandom | tr -d '\r\032' >"$work/big"
kx haval "$(file_arg "$work/big")"
from_file=$out
run_kxtool haval <"$work/big" >"$work/stdout" 2>"$work/stderr"
check "a large file hashes the same from standard input" [ "$(cat "$work/stdout")" = "$from_file" ]
check "the digest has 64 lower-case hex digits" grep -Eqx '[0-9a-f]{64}' <<<"$from_file"
# The pad byte at position 118 of the block, 119 and the next block each give another digest.
for n in 117 118 119 127 128; do
  head -c $n /dev/zero | tr '\0' 'x' >"$work/len$n"
  kx haval "$(file_arg "$work/len$n")"
  eval "digest$n=\$out"
done
check "lengths around the padding boundary differ" \
  [ "$(printf '%s\n' "$digest117" "$digest118" "$digest119" "$digest127" "$digest128" |
    sort -u | wc -l)" -eq 5 ]

kx haval "$(file_arg "$work/missing")"
check "haval of a missing file exits 2" [ "$code" -eq 2 ]
check "haval names the missing file" stderr_has 'cannot read "'
check "nothing on stdout after an error" output_empty
kx haval a b
check "haval with two files is a usage error" [ "$code" -eq 2 ]

# --- encipher and decipher: file to file, every byte, every length
make_file "$work/project.xml" '<kx2project/>'
kx encipher "$(file_arg "$work/project.xml")" "$(file_arg "$work/project.pdb")"
check "encipher exits 0" [ "$code" -eq 0 ]
check "encipher writes nothing on stdout" output_empty
check "enciphered bytes are the engine's" \
  [ "$(od -An -tx1 -v "$work/project.pdb" | tr -d ' \n')" = 27477dc43eca236d3b91ad7edc ]
kx decipher "$(file_arg "$work/project.pdb")" "$(file_arg "$work/project.back")"
check "decipher exits 0" [ "$code" -eq 0 ]
check "decipher gives the text back" cmp -s "$work/project.xml" "$work/project.back"

# Carriage returns, line feeds, end-of-file marks and zero bytes pass unchanged; every length of
# the last partial block and whole blocks.
printf 'a\r\nb\n\032c\0d\r' >"$work/binary"
head -c 70000 /dev/urandom >>"$work/binary"
all_round_trip=true
for n in 0 1 5 7 8 9 16 23 70003; do
  head -c $n "$work/binary" >"$work/plain$n"
  kx encipher "$(file_arg "$work/plain$n")" "$(file_arg "$work/cipher$n")"
  [ "$code" -eq 0 ] || { all_round_trip=false; echo "encipher of $n bytes: $err"; }
  [ "$(stat -c %s "$work/cipher$n")" -eq $n ] || all_round_trip=false
  kx decipher "$(file_arg "$work/cipher$n")" "$(file_arg "$work/back$n")"
  cmp -s "$work/plain$n" "$work/back$n" || { all_round_trip=false; echo "$n bytes do not come back"; }
done
check "binary files of every length round-trip" $all_round_trip
files_differ() { ! cmp -s "$1" "$2"; }
check "enciphering changes the bytes" files_differ "$work/plain70003" "$work/cipher70003"

# One byte more changes the key, so the deciphered prefix is different throughout.
cp "$work/cipher70003" "$work/longer"
printf 'x' >>"$work/longer"
kx decipher "$(file_arg "$work/longer")" "$(file_arg "$work/longer.back")"
check "an appended byte changes the first block" \
  [ "$(head -c 8 "$work/longer.back" | od -An -tx1)" != "$(head -c 8 "$work/plain70003" | od -An -tx1)" ]

# Overwrites an existing output.
make_file "$work/old" 'something much longer than the new content'
kx encipher "$(file_arg "$work/plain5")" "$(file_arg "$work/old")"
check "an existing output is replaced" [ "$(stat -c %s "$work/old")" -eq 5 ]

# --- failures
kx decipher "$(file_arg "$work/missing")" "$(file_arg "$work/out")"
check "a missing input exits 2" [ "$code" -eq 2 ]
check "a missing input is named" stderr_has 'cannot read "'
check "a missing input writes no output" [ ! -e "$work/out" ]
kx encipher "$(file_arg "$work/project.xml")" "$(file_arg "$work/no/such/folder/out")"
check "an unwritable output exits 2" [ "$code" -eq 2 ]
check "an unwritable output is named" stderr_has 'cannot write "'
kx encipher "$(file_arg "$work/project.xml")"
check "encipher without OUT is a usage error" [ "$code" -eq 2 ]
check "usage errors explain" stderr_has 'IN OUT'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
