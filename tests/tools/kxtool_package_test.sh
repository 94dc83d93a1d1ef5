#!/usr/bin/env bash
# Drives `kxtool inspect` as a vendor would, on packages kxbuild makes of the demo sample, and
# holds what it says against tools that are not ours: od for the trailer, cabextract for the
# entries, and `kxtool decipher` of the databases cabextract extracts.
#   kxtool_package_test.sh KXTOOL KXBUILD SOURCE_DIR WORKDIR
# Programs ending in ".exe" run under Wine ($WINEPREFIX must be initialised).
kxbuild=$2 source_dir=$3
source "$(dirname "$0")/kxtool_lib.sh" "$1" "$4"
export LC_ALL=C

# kxtool's temporary folders go to a folder of the test's own, so that a leftover is seen. Wine
# takes TEMP and TMP from its registry, not from the caller, so they are set inside a batch file.
temp=$work/temp
mkdir -p "$temp"
if [[ $kxbuild == *.exe ]]; then
  run_kxbuild() { wine "$kxbuild" "$@"; }
  printf '@set TEMP=%s\r\n@set TMP=%s\r\n@"%s" %%*\r\n' "$(file_arg "$temp")" "$(file_arg "$temp")" \
    "$(file_arg "$kxtool")" >"$work/kxtool.bat"
  run_kxtool() { wine cmd /c "$(file_arg "$work/kxtool.bat")" "$@"; }
  target=win64
else
  export TMPDIR=$temp
  run_kxbuild() { "$kxbuild" "$@"; }
  target=host
fi
kb() {
  run_kxbuild "$@" >"$work/stdout" 2>"$work/stderr"
  code=$?
  err=$(tr -d '\r' <"$work/stderr")
}

size_of() { stat -c %s "$1"; }
u32_at() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }  # file, offset
lacks() { ! grep -q "$1" "$work/stdout"; }
line_is() { grep -qxF -- "$1" <<<"$out" || { echo "  no line: $1"; false; }; }
lists_same() { [ "$1" = "$2" ] || { diff <(echo "$2") <(echo "$1") | head -20; false; }; }
temp_is_empty() { [ -z "$(ls -A "$temp")" ] || { ls -lAR "$temp" | head; false; }; }
# "size yyyy-mm-dd hh:mm:ss name" per entry, names with "/": cabextract's and inspect's listings.
cab_entries() {
  cabextract -l "$1" 2>/dev/null | awk -F' [|] ' '/^ *[0-9]+ [|]/ {
    d = substr($2, 7, 4) "-" substr($2, 4, 2) "-" substr($2, 1, 2)
    print $1 + 0, d, substr($2, 12), $3 }'
}
inspect_entries() {
  sed -nE 's/^  ( *[0-9]+) ([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}) [-r][-h][-s][-a] (.*)$/\1 \2 \3/p' \
    "$work/stdout" | sed -E 's/^ +//' | tr '\\' '/'
}
# The deciphered text of a database section, exactly the byte count its header gives.
section() {  # name, file to write
  local found offset header count
  found=$(grep -a -b -m1 "^--- $1 (" "$work/stdout") || return 1
  offset=${found%%:*} header=${found#*:}
  count=$(sed -nE 's/^--- [^ ]+ \(([0-9]+) bytes deciphered.*/\1/p' <<<"$header")
  tail -c +$((offset + ${#header} + 2)) "$work/stdout" | head -c "$count" >"$2"
}
# cabextract's copy of a database, deciphered by kxtool.
deciphered() {  # package, name, file to write
  rm -rf "$work/x" && mkdir -p "$work/x"
  cabextract -q -d "$work/x" -F "$2" "$1" >/dev/null 2>&1 &&
    run_kxtool decipher "$(file_arg "$work/x/$2")" "$(file_arg "$3")" >/dev/null 2>&1
}

# --- the packages: the demo sample with a stub of a few KiB that passes kxbuild's check
cp -r "$source_dir/samples/demo" "$work/demo"
if [ "$target" = win64 ]; then
  # "MZ", the PE header's offset at 0x3C, "PE\0\0" and the x86-64 machine number there
  { printf 'MZ'; head -c 58 /dev/zero; printf '\100\000\000\000PE\000\000\144\206'; } >"$work/stub"
else
  printf '\177ELF' >"$work/stub"
fi
head -c 4000 /dev/zero | tr '\0' 'S' >>"$work/stub"
# The demo's plug-in comes from the plug-ins built with kxbuild, not from beside the stand-in stub.
plugin_folder=$(file_arg "$(dirname "$kxbuild")/../plugins")
kb "$(file_arg "$work/demo/demo.xml")" -o "$(file_arg "$work/pkg/DemoSetup")" \
  --stub "$(file_arg "$work/stub")" --target "$target" --plugins "$plugin_folder"
check "kxbuild builds the demo" [ "$code" -eq 0 ]
[ "$code" -eq 0 ] || { echo "$err"; echo "$passed passed, $failed failed"; exit 1; }
main=$work/pkg/DemoSetup docs=$work/pkg/docs.kxp

# Everything inspect says about a whole package, each figure against its own source.
inspect_whole() {  # what, package, bytes appended after the marker, whether it has main.pdb
  local what=$1 package=$2 appended=$3 has_main=$4 size end cab listed
  size=$(size_of "$package") end=$(($(size_of "$package") - $3))
  kx inspect "$(file_arg "$package")"
  check "$what: exit 0" [ "$code" -eq 0 ]
  [ "$code" -eq 0 ] || echo "  $err"
  check "$what: nothing on standard error" [ -z "$err" ]
  check "$what: the path as given" [ "$(head -n 1 "$work/stdout")" = "package: $(file_arg "$package")" ]
  check "$what: file size" line_is "file size: $size"
  check "$what: appended bytes" line_is "trailer: found, $appended bytes appended after it"
  check "$what: the marker is where od finds it" [ "$(tail -c +$((end - 5)) "$package" | head -c 6)" = KXPEND ]
  check "$what: built size" line_is "built size: $(u32_at "$package" $((end - 18)))"
  check "$what: presetup size" line_is "presetup size: $(u32_at "$package" $((end - 14)))"
  check "$what: data size" line_is "data size: $(u32_at "$package" $((end - 10)))"
  check "$what: check passed" line_is "check: passed"

  cab=$(cab_entries "$package") listed=$(inspect_entries)
  check "$what: cabextract lists entries" [ -n "$cab" ]
  check "$what: entries, sizes and times equal cabextract's" lists_same "$listed" "$cab"
  check "$what: entry count" line_is "entries: $(grep -c . <<<"$cab")"
  check "$what: sizes right-aligned in ten columns" \
    [ "$(grep -cE '^  [ 0-9]{9}[0-9] [0-9]{4}-' "$work/stdout")" -eq "$(grep -c . <<<"$cab")" ]
  local pc pb dc db
  pc=$(awk '$4 !~ /^data\// {n++} END {print n + 0}' <<<"$cab")
  pb=$(awk '$4 !~ /^data\// {s += $1} END {print s + 0}' <<<"$cab")
  dc=$(awk '$4 ~ /^data\// {n++} END {print n + 0}' <<<"$cab")
  db=$(awk '$4 ~ /^data\// {s += $1} END {print s + 0}' <<<"$cab")
  check "$what: entry sums" line_is "presetup entries: $pc ($pb bytes)   data entries: $dc ($db bytes)"
  check "$what: presetup size matches the entries" line_is "presetup size check: matches the entries"
  check "$what: data size matches the entries" line_is "data size check: matches the entries"

  deciphered "$package" db.pdb "$work/db.expected"
  check "$what: db.pdb shown" section db.pdb "$work/db.shown"
  check "$what: db.pdb deciphered as kxtool decipher does" cmp -s "$work/db.shown" "$work/db.expected"
  check "$what: db.pdb holds the package" grep -q '^<package>' "$work/db.shown"
  if [ "$has_main" = yes ]; then
    deciphered "$package" main.pdb "$work/main.expected"
    check "$what: main.pdb shown" section main.pdb "$work/main.shown"
    check "$what: main.pdb deciphered as kxtool decipher does" \
      cmp -s "$work/main.shown" "$work/main.expected"
    check "$what: main.pdb holds the project" grep -q 'Demo Product' "$work/main.shown"
  else
    check "$what: no main.pdb" line_is "--- main.pdb: not in the package"
  fi
  check "$what: the temporary folder is gone" temp_is_empty
}

inspect_whole "main package" "$main" 0 yes
inspect_whole "further package" "$docs" 0 no

# --- a signature-like block after the marker: still whole, up to the engine's 64 KiB reach
# (marker included), which the last case passes by one byte
cp "$main" "$work/signed"
head -c 3000 /dev/zero | tr '\0' 'G' >>"$work/signed"
inspect_whole "signed package" "$work/signed" 3000 yes
cp "$main" "$work/edge"
head -c 65530 /dev/zero | tr '\0' 'G' >>"$work/edge"
kx inspect "$(file_arg "$work/edge")"
check "a marker in the last 64 KiB exactly: exit 0" [ "$code" -eq 0 ]
check "... 65530 bytes appended" line_is "trailer: found, 65530 bytes appended after it"
printf 'G' >>"$work/edge"
kx inspect "$(file_arg "$work/edge")"
check "a marker one byte beyond 64 KiB: exit 1" [ "$code" -eq 1 ]
check "... the engine's trailer is not found" line_is "trailer: not found in the last 64 KiB"
check "... but its reason is shown" \
  line_is "distant trailer: found, 65531 bytes appended after it, out of the engine's reach"
check "... the check fails" line_is "check: failed (no package trailer in the last 64 KiB)"
check "... no sizes are made up" lacks '^built size:'
check "... the temporary folder is gone" temp_is_empty
# The whole file is searched in chunks of 1 MiB: markers that cross a chunk's end, or whose
# numbers lie in the chunk before, are found too. The stub's size puts the marker there, at the
# first chunk's end the cabinet leaves room for (the sanitized build's uninstaller is large).
cab_and_trailer=$(($(u32_at "$main" $(($(size_of "$main") - 18))) - $(size_of "$work/stub")))
chunk_end=$(((cab_and_trailer / 1048576 + 1) * 1048576))
for marker in $((chunk_end - 3)) $((chunk_end + 4)); do
  head -c $((marker + 6 - cab_and_trailer)) "$work/stub" >"$work/big-stub"
  head -c 2000000 /dev/zero | tr '\0' 'S' | head -c $((marker + 6 - cab_and_trailer - $(size_of "$work/big-stub"))) >>"$work/big-stub"
  kb "$(file_arg "$work/demo/demo.xml")" -o "$(file_arg "$work/big/setup")" \
    --stub "$(file_arg "$work/big-stub")" --target "$target" --plugins "$plugin_folder"
  check "a large stub builds" [ "$code" -eq 0 ]
  check "... the marker where it is wanted" [ "$(tail -c +$((marker + 1)) "$work/big/setup" | head -c 6)" = KXPEND ]
  kx inspect "$(file_arg "$work/big/setup")"
  check "a marker at $marker: exit 0" [ "$code" -eq 0 ]
  head -c 70000 /dev/zero | tr '\0' 'G' >>"$work/big/setup"
  kx inspect "$(file_arg "$work/big/setup")"
  check "a distant marker at $marker: exit 1" [ "$code" -eq 1 ]
  check "... found" line_is "distant trailer: found, 70000 bytes appended after it, out of the engine's reach"
done
cp "$docs" "$work/far.kxp"
head -c 70000 /dev/zero | tr '\0' 'G' >>"$work/far.kxp"
kx inspect "$(file_arg "$work/far.kxp")"
check "a further package with a distant trailer: exit 1" [ "$code" -eq 1 ]
check "... its cabinet still listed" lists_same "$(inspect_entries)" "$(cab_entries "$docs")"

# --- damaged packages: exit 1, everything that can be read still shown
size=$(size_of "$main")
tail -c +2 "$main" >"$work/cut-first"
kx inspect "$(file_arg "$work/cut-first")"
check "first byte cut: exit 1" [ "$code" -eq 1 ]
check "... the sizes are named" \
  line_is "check: failed (the file is $((size - 1)) bytes, built $size + appended 0)"
check "... the trailer is still shown" line_is "built size: $size"
check "... the unreadable archive is said" grep -q '^entries: unreadable' "$work/stdout"
# A byte lost inside the cabinet of a signed package: the appended block keeps its size, so the
# sizes no longer add up.
{ head -c 5000 "$work/signed"; tail -c +5002 "$work/signed"; } >"$work/cut-signed"
kx inspect "$(file_arg "$work/cut-signed")"
check "a byte cut out of a signed package: exit 1" [ "$code" -eq 1 ]
check "... the sizes are named" \
  line_is "check: failed (the file is $((size + 2999)) bytes, built $size + appended 3000)"
check "... the appended block is still found" line_is "trailer: found, 3000 bytes appended after it"
head -c $(($(size_of "$docs") - 1)) "$docs" >"$work/cut.kxp"
kx inspect "$(file_arg "$work/cut.kxp")"
check "last byte of a further package cut: exit 1" [ "$code" -eq 1 ]
check "... no trailer" line_is "trailer: not found in the last 64 KiB"
check "... nor a distant one" lacks '^distant trailer'
check "... the cabinet is still listed" lists_same "$(inspect_entries)" "$(cab_entries "$docs")"
check "the temporary folder is gone after damaged packages" temp_is_empty

# --- trailer sizes that disagree with the entries: said, but the engine does not refuse them
patch_u32() {  # file, offset, value
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) \
    $(($3 >> 24 & 255)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
presetup=$(u32_at "$main" $((size - 14))) data=$(u32_at "$main" $((size - 10)))
cp "$main" "$work/sizes"
patch_u32 "$work/sizes" $((size - 14)) $((presetup + 7))
patch_u32 "$work/sizes" $((size - 10)) 70000
kx inspect "$(file_arg "$work/sizes")"
check "wrong trailer sizes: still exit 0" [ "$code" -eq 0 ]
check "... the presetup difference" \
  line_is "presetup size check: differs (trailer $((presetup + 7)), entries $presetup)"
check "... the data difference" line_is "data size check: differs (trailer 70000, entries $data)"

# --- a package of another maker (gcab's cabinet, a trailer added here) with everything the engine
# refuses: an unsafe presetup name, a db.pdb that is no XML, a main.pdb after the data
g=$work/foreign
mkdir -p "$g/zz" "$g/data"
printf 'not enciphered XML' >"$g/db.pdb"
printf 'up' >"$g/zz/zz.txt"
printf 'data' >"$g/data/x.txt"
printf '<kx2project/>' >"$g/main.pdb"
printf 'late' >"$g/late.txt"
(cd "$g" && gcab -c ../foreign.cab db.pdb zz/zz.txt data/x.txt main.pdb late.txt)
# The name gcab would not write: "zz\zz.txt" becomes "..\zz.txt" (names carry no checksum).
name_at=$(grep -abo 'zz\\zz.txt' "$work/foreign.cab" | head -n 1 | cut -d: -f1)
printf '..' | dd of="$work/foreign.cab" bs=1 seek="$name_at" conv=notrunc status=none
with_trailer() {  # cabinet or package, package to write: a trailer whose BuiltSize is right
  { cat "$1"; printf 'KXPENDKXPENDKXPEND'; } >"$2"  # the numbers, overwritten next
  patch_u32 "$2" $(($(size_of "$2") - 18)) "$(size_of "$2")"
}
with_trailer "$work/foreign.cab" "$work/foreign.kxp"
foreign_size=$(size_of "$work/foreign.kxp")
patch_u32 "$work/foreign.kxp" $((foreign_size - 14)) 20
patch_u32 "$work/foreign.kxp" $((foreign_size - 10)) 4
kx inspect "$(file_arg "$work/foreign.kxp")"
check "a foreign package the engine refuses: exit 1" [ "$code" -eq 1 ]
check "... its trailer passes" line_is "check: passed"
check "... all five entries listed" \
  lists_same "$(inspect_entries | cut -d' ' -f1,4)" "$(printf '%s\n' '18 db.pdb' '2 ../zz.txt' \
    '4 data/x.txt' '13 main.pdb' '4 late.txt')"
check "... the unsafe name" line_is 'unsafe name: "..\zz.txt"'
check "... presetup and data" line_is "presetup entries: 2 (20 bytes)   data entries: 1 (4 bytes)"
check "... the entries after the data" \
  line_is "other entries: 2 (17 bytes) after the first data entry, which the engine never extracts"
check "... main.pdb out of the engine's reach" \
  line_is "--- main.pdb: only after the first data entry, where the engine never extracts it"
check "... db.pdb unreadable" grep -q '^--- db.pdb (18 bytes deciphered; the engine cannot read it: ' \
  "$work/stdout"
check "... and still shown" section db.pdb "$work/db.shown"
run_kxtool decipher "$(file_arg "$g/db.pdb")" "$(file_arg "$work/db.expected")" >/dev/null 2>&1
check "... as kxtool decipher gives it, control characters as ?" cmp -s "$work/db.shown" \
  <(perl -0777 -pe 's/\r(?!\n)/?/g; tr/\x00-\x08\x0b\x0c\x0e-\x1f\x7f/?/' "$work/db.expected")
check "nothing extracted under a name from the package" temp_is_empty

# --- more that the engine refuses: a setup program without main.pdb, and a presetup entry whose
# data is damaged (after the databases, so that only reading it shows the damage)
with_trailer <(cat "$work/stub"; head -c -18 "$docs") "$work/no-main"
kx inspect "$(file_arg "$work/no-main")"
check "a setup program without main.pdb: exit 1" [ "$code" -eq 1 ]
check "... said" line_is "--- main.pdb: not in the package"
d=$work/damaged
mkdir -p "$d/data"
deciphered "$docs" db.pdb "$work/db.expected" && cp "$work/x/db.pdb" "$d/db.pdb"
{ seq -f 'note %g' 4000; echo MARK; } >"$d/notes.txt"
printf 'x' >"$d/data/x.txt"
(cd "$d" && gcab -c ../damaged.cab db.pdb notes.txt data/x.txt)
printf 'Z' | dd of="$work/damaged.cab" bs=1 conv=notrunc status=none \
  seek="$(grep -abo MARK "$work/damaged.cab" | cut -d: -f1)"
with_trailer "$work/damaged.cab" "$work/damaged.kxp"
kx inspect "$(file_arg "$work/damaged.kxp")"
check "a presetup entry that cannot be read: exit 1" [ "$code" -eq 1 ]
check "... said" line_is "archive: damaged, the unpack library stopped after 2 entries"
check "... nothing left behind" temp_is_empty

# --- a database's control characters never reach the terminal; its line ends do
c=$work/controls
mkdir -p "$c/data"
printf '<package>\r\n\t<variables/>\e[2J\a\rhidden\r\n</package>\r\n' >"$work/controls.xml"
run_kxtool encipher "$(file_arg "$work/controls.xml")" "$(file_arg "$c/db.pdb")" >/dev/null 2>&1
printf 'x' >"$c/data/x.txt"
(cd "$c" && gcab -c ../controls.cab db.pdb data/x.txt)
with_trailer "$work/controls.cab" "$work/controls.kxp"
kx inspect "$(file_arg "$work/controls.kxp")"
check "a database with control characters: exit 0" [ "$code" -eq 0 ]
check "... shown escaped" section db.pdb "$work/db.shown"
check "... as ?, line ends and TABs kept" cmp -s "$work/db.shown" \
  <(printf '<package>\r\n\t<variables/>?[2J??hidden\r\n</package>\r\n')

# --- not packages, and usage
kx inspect "$(file_arg "$work/missing")"
check "a missing file: exit 2" [ "$code" -eq 2 ]
check "... names the file" stderr_has "kxtool inspect: cannot read \"$(file_arg "$work/missing")\""
check "... nothing on standard output" output_empty
cp "$work/demo/license.txt" "$work/text"
kx inspect "$(file_arg "$work/text")"
check "a text file: exit 2" [ "$code" -eq 2 ]
check "... is no package" stderr_has "kxtool inspect: \"$(file_arg "$work/text")\" is not a package"
check "... nothing on standard output" output_empty
kx inspect "$(file_arg "$work/stub")"
check "a program without a package: exit 2" [ "$code" -eq 2 ]
check "... is no package" stderr_has "is not a package"
: >"$work/empty"
kx inspect "$(file_arg "$work/empty")"
check "an empty file: exit 2" [ "$code" -eq 2 ]
kx inspect "$(file_arg "$work/pkg")"
check "a folder: exit 2" [ "$code" -eq 2 ]
check "... said" stderr_has "is a folder"
kx inspect
check "no package: usage error" [ "$code" -eq 2 ]
check "... usage shown" stderr_has "usage: kxtool inspect PACKAGE"
kx inspect "$(file_arg "$main")" "$(file_arg "$docs")"
check "two packages: usage error" [ "$code" -eq 2 ]
check "the temporary folder is gone after every error" temp_is_empty

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
