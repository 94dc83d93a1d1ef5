#!/usr/bin/env bash
# Builds the expression evaluator's libFuzzer target with clang (ASan + UBSan) and runs it.
#   fuzz/run_expression_fuzz.sh [SECONDS] [WORKDIR]
# SECONDS defaults to 600; WORKDIR (default build/fuzz-expression) keeps the binary, the corpus it
# grows, and any crash files. Seeds are typical conditions and the edge cases of the language.
set -euo pipefail
seconds=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
work=${2:-$root/build/fuzz-expression}
mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"

CXX=${CXX:-clang++}
sources=("$root/fuzz/expression_fuzz.cpp" "$root/src/expressions"/*.cpp "$root/src/database"/*.cpp
  "$root/src/support"/*.cpp "$root/src/os/os_common.cpp" "$root/src/os/PeVersion.cpp"
  "$root/src/os/host"/*.cpp)
echo "building $work/expression_fuzz"
"$CXX" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src" "${sources[@]}" -o "$work/expression_fuzz" -ldl -lpthread

i=0
while IFS= read -r seed; do
  printf '%s' "$seed" >"$work/seeds/seed_$i"
  i=$((i + 1))
done <<'SEEDS'
FileExists("%Path%") and not FeatureEnabled(Extras)
1 and 3 = 1 + 2
- - 1
not -1
'it''s' & "x" & %Quote%
%Empty% = "x"
"x" <> %Empty%
Iif(1 < 1.5, SubStr("abcdef", 2, 3), FindSubStr("Hello", "l", 4))
CompareVersion("1.10", "1.9") + CompareDate("12/31/2002", "01/01/2003")
Round(2.5) * Round(-1.5) / Length(%Lines%)
RegParam("HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion", "ProgramFilesDir", "none")
(1 + 2) * (3 + (4 - %N%)) >= %Big%
%A%
NormalPath(FilePath(%Path%)) & FileName(%Path%)
SEEDS
echo "$i seeds"

export KX_ROOT="$work/machine"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$work"
exec ./expression_fuzz -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" -dict="$root/fuzz/expression.dict" "$work/corpus" "$work/seeds"
