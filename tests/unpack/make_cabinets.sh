#!/usr/bin/env bash
# Makes the cabinets the unpack library's tests read, natively or under Wine (which cannot run
# gcab itself). Usage: make_cabinets.sh OUTPUT_FOLDER (recreated).
#
# OUTPUT_FOLDER/
#   src/          the files put into the cabinet, for comparing contents
#   plain.cab     those files, MS-ZIP compressed, in the order of manifest.txt
#   package.bin   a program image, plain.cab, the package trailer and a tail
#   manifest.txt  one line per entry in archive order: name (as stored) TAB size TAB
#                 mtime an extracted file must get (epoch) TAB DOS date TAB DOS time
#   stamp         written last: its presence means everything above is complete
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 OUTPUT_FOLDER" >&2
  exit 2
fi
out=$1
command -v gcab >/dev/null || { echo "make_cabinets: gcab is missing" >&2; exit 1; }

# Byte-exact output whatever the caller's locale.
export LC_ALL=C

rm -rf "$out"
mkdir -p "$out/src/lng"
out=$(cd "$out" && pwd)  # gcab runs from inside src/
src=$out/src

# Deterministic bytes, so that every run makes the same cabinet: the minimal standard generator,
# whose products stay exact in awk's floating point.
pseudo_random() {
  local count=$1 seed=$2
  awk -v n="$count" -v s="$seed" 'BEGIN {
    for (i = 0; i < n; i++) {
      s = (s * 16807) % 2147483647
      printf "%c", int(s / 8388608)
    }
  }'
}

# Text that compresses well, so that the big entry mixes compressed and barely compressible
# blocks.
numbered_lines() {
  local count=$1
  awk -v n="$count" 'BEGIN { for (i = 1; i <= n; i++) printf "line %06d of the big entry\n", i }'
}

printf 'Read me first.\r\nThis text is stored in the cabinet.\r\n' >"$src/readme.txt"
printf '[Strings]\r\nTitle=English\r\n' >"$src/lng/enu.lng"
: >"$src/empty.dat"
{
  pseudo_random 70000 12345
  numbered_lines 2000
  pseudo_random 50000 777
} >"$src/big.bin"
printf 'the last entry\n' >"$src/last.txt"

# Archive order, with the times the archive is to store (even seconds: DOS time has two-second
# steps; winter and summer dates, so that a wrong daylight-saving rule shows).
entries=(readme.txt lng/enu.lng empty.dat big.bin last.txt)
times=("2021-03-04 05:06:08" "2019-11-12 13:14:16" "2020-01-02 03:04:06" "2022-06-30 23:58:58"
  "2023-12-31 12:00:00")
# A cabinet stores local wall-clock time; gcab writes the file's time as UTC wall clock. Under
# UTC both agree, so the archive holds exactly the times above.
for i in "${!entries[@]}"; do
  TZ=UTC touch -d "${times[$i]}" "$src/${entries[$i]}"
done

(cd "$src" && TZ=UTC gcab -c -z "$out/plain.cab" "${entries[@]}")

# Little-endian 32-bit number as raw bytes.
le32() {
  local v=$1
  printf '%b' "$(printf '\\0%03o' $((v & 255)) $(((v >> 8) & 255)) $(((v >> 16) & 255)) \
    $(((v >> 24) & 255)))"
}

image_size=4096
cab_size=$(stat -c %s "$out/plain.cab")
built_size=$((image_size + cab_size + 18))
{
  printf 'MZ'
  pseudo_random $((image_size - 2)) 4242
  cat "$out/plain.cab"
  le32 "$built_size"
  le32 "$image_size"
  le32 "$cab_size"
  printf 'KXPEND'
  pseudo_random 100 99
} >"$out/package.bin"

# DOS date and time of "YYYY-MM-DD hh:mm:ss".
dos_stamp() {
  local y m d hh mm ss
  IFS='-: ' read -r y m d hh mm ss <<<"$1"
  printf '%d\t%d' $((((10#$y - 1980) << 9) | (10#$m << 5) | 10#$d)) \
    $(((10#$hh << 11) | (10#$mm << 5) | (10#$ss / 2)))
}

# The mtime is what an extracted file must get: the stored time read as the caller's local time.
for i in "${!entries[@]}"; do
  entry=${entries[$i]}
  printf '%s\t%s\t%s\t%s\n' "${entry//\//\\}" "$(stat -c %s "$src/$entry")" \
    "$(date -d "${times[$i]}" +%s)" "$(dos_stamp "${times[$i]}")"
done >"$out/manifest.txt"

# The archive must hold exactly what the manifest says, in that order and with those times.
listed=$(TZ=UTC gcab -l "$out/plain.cab" | awk '{ print $1 "\t" $2 "\t" $3 " " $4 }')
expected=$(for i in "${!entries[@]}"; do
  printf '%s\t%s\t%s\n' "${entries[$i]//\//\\}" "$(stat -c %s "$src/${entries[$i]}")" \
    "${times[$i]}"
done)
if [ "$listed" != "$expected" ]; then
  echo "make_cabinets: gcab stored the entries differently:" >&2
  echo "$listed" >&2
  exit 1
fi

: >"$out/stamp"

# ---------------------------------------------------------------------------------------------
# The engine's package tests: presetup files before the archive's first "data\" entry and one
# after it; and a small cabinet whose second name the tests overwrite in place with unsafe names
# of the same length ("xx\evil.txt" becomes "..\evil.txt", "C:\evil.txt", ...).
#
#   presetup/      the files of presetup.cab
#   presetup.cab   splash.bmp, license.txt, lng\enu.lng, data\app\program.bin, late.txt,
#                  data\app\readme.txt (MS-ZIP)
#   unsafe.cab     readme.txt, xx\evil.txt (stored)
mkdir -p "$out/presetup/lng" "$out/presetup/data/app" "$out/unsafe/xx"
printf 'BM, a stand-in for the splash bitmap' >"$out/presetup/splash.bmp"
printf 'Licence text.\r\n' >"$out/presetup/license.txt"
printf '[Strings]\r\nTitle=English\r\n' >"$out/presetup/lng/enu.lng"
pseudo_random 30000 31337 >"$out/presetup/data/app/program.bin"
printf 'placed after the first data entry\n' >"$out/presetup/late.txt"
printf 'the application read-me\n' >"$out/presetup/data/app/readme.txt"
presetup_entries=(splash.bmp license.txt lng/enu.lng data/app/program.bin late.txt data/app/readme.txt)
(cd "$out/presetup" && gcab -c -z "$out/presetup.cab" "${presetup_entries[@]}")
listed=$(gcab -l "$out/presetup.cab" | awk '{ print $1 }')
if [ "$listed" != "$(printf '%s\n' "${presetup_entries[@]//\//\\}")" ]; then
  echo "make_cabinets: presetup.cab holds another order:" >&2
  echo "$listed" >&2
  exit 1
fi
printf 'harmless\n' >"$out/unsafe/readme.txt"
printf 'must never be written\n' >"$out/unsafe/xx/evil.txt"
(cd "$out/unsafe" && gcab -c "$out/unsafe.cab" readme.txt xx/evil.txt)

: >"$out/stamp"
