#!/usr/bin/env bash
# Builds the XML reader's libFuzzer target with clang (ASan + UBSan) and runs it.
#   fuzz/run_xml_fuzz.sh [SECONDS] [WORKDIR]
# SECONDS defaults to 600; WORKDIR (default build/fuzz-xml) keeps the binary, the corpus it
# grows, and any crash files. The seed corpus is made from the XML fixtures of the unit tests.
set -euo pipefail
seconds=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
work=${2:-$root/build/fuzz-xml}
mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"

CXX=${CXX:-clang++}
sources=("$root/fuzz/xml_reader_fuzz.cpp" "$root/src/database/zrXMLParser.cpp"
  "$root/src/support"/*.cpp "$root/src/os/os_common.cpp" "$root/src/os/PeVersion.cpp"
  "$root/src/os/host"/*.cpp)
echo "building $work/xml_reader_fuzz"
"$CXX" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" "${sources[@]}" -o "$work/xml_reader_fuzz" -ldl -lpthread

# Seeds: every fixture, once per group of settings (the first byte of an input picks them).
i=0
for fixture in "$root/tests/database/fixtures"/*.xml; do
  [ -e "$fixture" ] || continue
  for flags in 0 3 4 24 96 255; do
    { printf "\\$(printf '%03o' "$flags")"; cat "$fixture"; } >"$work/seeds/seed_$i"
    i=$((i + 1))
  done
done
echo "$i seeds"

export KX_ROOT="$work/machine"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$work"
exec ./xml_reader_fuzz -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" -dict="$root/fuzz/xml.dict" "$work/corpus" "$work/seeds"
