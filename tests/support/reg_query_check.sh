#!/usr/bin/env bash
# Has Wine's own "reg" tool read back what our registry writer stored, so that the values and
# their types are checked by a reader that is not ours.
#   reg_query_check.sh [SUPPORT_TESTS_EXE]
# Default program: build/win64/tests/support_tests.exe of this repository. Needs an initialised
# $WINEPREFIX, as every Wine test does. The check key is removed at the end, pass or fail.
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:-$here/../../build/win64/tests/support_tests.exe}
key='HKCU\Software\kxsetup-check'

if [ ! -f "$exe" ]; then
  echo "FAILED: no test program at $exe"
  exit 2
fi

work=$(mktemp -d)
cleanup() {
  wine reg delete "$key" /f >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# The writer keeps its key for us; a filter that matched nothing would also exit 0, so the
# one passed test is looked for.
KX_KEEP_CHECK_KEY=1 wine "$exe" --gtest_filter='RegistryWriterForCheck.*' >"$work/writer.log" 2>&1
if ! grep -q '^\[  PASSED  \] 1 test' "$work/writer.log"; then
  echo "FAILED: the writer did not run and pass:"
  cat "$work/writer.log"
  exit 1
fi

if ! wine reg query "$key" /s >"$work/query.raw" 2>&1; then
  echo "FAILED: reg query could not read $key:"
  cat "$work/query.raw"
  exit 1
fi

# reg lists values in an order of its own: lines are compared as sorted sets.
normalise() { tr -d '\r' | sed -e 's/[[:space:]]*$//' -e '/^$/d' | LC_ALL=C sort; }
normalise <"$work/query.raw" >"$work/actual"
normalise >"$work/expected" <<'EOF'
HKEY_CURRENT_USER\Software\kxsetup-check
    (Default)    REG_SZ    default
    binary    REG_BINARY    01ABFF
    expand    REG_EXPAND_SZ    %SystemRoot%\kx
    multi    REG_MULTI_SZ    one\0two\0three
    number    REG_DWORD    0xffffffff
    small    REG_DWORD    0x2a
    text    REG_SZ    C:\a "quoted" b
HKEY_CURRENT_USER\Software\kxsetup-check\Sub
    inner    REG_SZ    x
EOF

if ! diff -u "$work/expected" "$work/actual"; then
  echo "FAILED: reg query shows other values than the writer stored (- expected, + found)"
  exit 1
fi
echo "ok: reg query reads every value and type the writer stored"
