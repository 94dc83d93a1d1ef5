#!/usr/bin/env bash
# How long a setup takes before the user sees its first dialog, against the payload it carries:
# the host engine from its start to EV_SHOWDIALOGS, on setups of the demo with a small and a
# 200 MiB payload, against `cabextract -l` listing the same setup. Preparation reads only the
# presetup entries, so the engine's time must not grow with the payload.
#
#   benchmarks/compare_startup.sh [BUILD_DIR] [RUNS] [MAKE_PAYLOAD]
#
# BUILD_DIR defaults to build/host (a Release build gives the numbers that count), RUNS to 5,
# MAKE_PAYLOAD to ../shared/tools/make-payload.py beside the checkout. The demo's plug-in cancels
# at the first dialog, and each run writes a diagnostic log: its time from the first line to
# EV_SHOWDIALOGS is the engine's own, the whole process (with the clean-up after the cancel) is
# timed too. Everything is made in a folder under /tmp, removed at the end. Run by hand, never as
# a test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/host}")
runs=${2:-5}
make_payload=${3:-$root/../shared/tools/make-payload.py}
kxbuild=$build/bin/kxbuild engine=$build/bin/kxsetup
[[ -x $kxbuild && -x $engine ]] || { echo "no kxbuild or kxsetup in $build/bin" >&2; exit 2; }
[[ -f $make_payload ]] || { echo "no payload maker at $make_payload" >&2; exit 2; }
command -v cabextract >/dev/null || { echo "cabextract is not installed" >&2; exit 2; }

work=$(mktemp -d /tmp/kx-compare-startup-XXXXXX)
trap 'rm -rf "$work"' EXIT
windows_name() { echo "Z:$(echo "$1" | tr / '\\')"; }
elapsed_ms() {  # command...: its wall time in milliseconds, whatever it exits with
  local start
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  echo $((($(date +%s%N) - start) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The demo with MB MiB more in its main package, cancelled at the first dialog: $work/MB/Setup.
make_setup() {  # mb
  local dir=$work/$1
  cp -r "$root/samples/demo" "$dir"
  mkdir -p "$dir/payload/app/bulk"
  python3 "$make_payload" "$dir/payload/app/bulk" --mb "$1" --files $(($1 * 10)) >/dev/null
  sed -i 's|<file src="readme.txt"|<file src="bulk\\*.*" dst="%InstallPath%\\bulk\\*.*"/>&|' \
    "$dir/demo.xml"
  sed -i 's|^Before=proceed|Before=cancel|' "$dir/autopilot.ini"
  "$kxbuild" "$(windows_name "$dir/demo.xml")" -o "$(windows_name "$dir/Setup")" --target host \
    --stub "$(windows_name "$engine")" >"$dir.kxbuild.log"
  chmod +x "$dir/Setup"
}

# Milliseconds from the diagnostic log's first line to EV_SHOWDIALOGS.
to_dialogs_ms() {  # log
  awk '{ split($1, t, ":"); ms = ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 }
    NR == 1 { first = ms } /EV_SHOWDIALOGS\(0/ { print int(ms - first + 0.5); exit }' "$1"
}

report() {  # mb
  local dir=$work/$1 in_engine=() whole=() listing=() run
  make_setup "$1"
  export KX_ROOT=$dir/machine TMPDIR=$dir/tmp
  mkdir -p "$TMPDIR"
  for ((run = 0; run < runs; run++)); do
    rm -f "$dir/run.log"
    whole+=("$(elapsed_ms "$dir/Setup" /s "/log=$(windows_name "$dir/run.log")")")
    grep -q 'EV_SHOWDIALOGS(0' "$dir/run.log" || { echo "the run never reached its dialogs" >&2; exit 1; }
    in_engine+=("$(to_dialogs_ms "$dir/run.log")")
    listing+=("$(elapsed_ms cabextract -l "$dir/Setup")")
  done
  local engine_ms whole_ms listing_ms size
  engine_ms=$(printf '%s\n' "${in_engine[@]}" | median)
  whole_ms=$(printf '%s\n' "${whole[@]}" | median)
  listing_ms=$(printf '%s\n' "${listing[@]}" | median)
  size=$(($(stat -c %s "$dir/Setup") / 1048576))
  printf '%4d MiB payload (setup %4d MiB): start to EV_SHOWDIALOGS %5d ms, whole run %5d ms,' \
    "$1" "$size" "$engine_ms" "$whole_ms"
  printf ' cabextract -l %5d ms\n' "$listing_ms"
}

echo "medians of $runs runs; $build"
report 1
report 200
