#!/usr/bin/env bash
# Runs every test: the host suite (plain and with sanitizers), both Windows builds, and the Windows
# suite under Wine in a fresh WINEPREFIX. Every suite runs even when an earlier one failed; the
# output ends with each runner's summary line, and the exit code is non-zero when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

summary=()
failed=0
jobs=${KX_JOBS:-$(nproc)}

run_suite() {  # name, command...
  local name=$1 log start=$SECONDS
  shift
  log=$(mktemp)
  echo "=== $name"
  "$@" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
  local line
  line=$(grep -E 'tests passed|tests failed|No tests were found' "$log" | tail -n 1)
  summary+=("$name: ${line:-did not run to its summary} ($((SECONDS - start)) s)")
  rm -f "$log"
}

build() {  # preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}

host_suite() { build host && ctest --preset host -j "$jobs"; }
asan_suite() { build host-asan && ctest --preset host-asan -j "$jobs"; }
# Nothing of the 32-bit build can run here: its programs are built and their imports checked.
win32_suite() {
  cmake --preset win32 >/dev/null && cmake --build --preset win32 -j "$jobs" --target kx_win32_checked &&
    ctest --test-dir build/win32 --output-on-failure
}

# A new prefix, checked before use: wineboot can return before the prefix is complete, and a
# half-made prefix fails every test with "could not load kernel32.dll".
prepare_wine_prefix() {
  local attempt
  for attempt in 1 2 3; do
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    if wine cmd /c exit 0 >/dev/null 2>&1; then return 0; fi
    echo "the Wine prefix is not usable (attempt $attempt); making it again"
  done
  return 1
}

win64_suite() {
  build win64 || return 1
  export WINEPREFIX="$PWD/build/win64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  prepare_wine_prefix || return 1
  wineserver -p  # one server for the whole suite: each test starts in a fraction of a second
  local status=0
  # Under load Wine now and then fails to start a test program at all (no output, or "Internal
  # error"); such a test gets a second start. A test that fails twice still fails the suite.
  ctest --preset win64 -j "$jobs" --repeat until-pass:2 || status=$?
  wineserver -k || true
  return $status
}

run_suite "host" host_suite
run_suite "host-asan" asan_suite
run_suite "win32 (built; import check)" win32_suite
run_suite "win64 under Wine" win64_suite

echo
echo "=== summary"
for line in "${summary[@]}"; do echo "$line"; done
exit $failed
