#!/usr/bin/env bash
# Whole installs against the plain tools on the same payload: the host engine installing a setup
# that kxbuild made of a mixed payload (a few large files and many small ones, text, structured
# and random data, one top folder per component), against `cabextract` of the same setup (which
# finds the cabinet inside it) and `cp -r` of the unpacked tree. Prints the median time of each,
# the ratios to cabextract, and the engine's peak resident memory at two payload sizes, to show
# that it does not grow with the payload.
#
#   benchmarks/compare_install.sh [BUILD_DIR] [RUNS] [MAKE_PAYLOAD]
#
# BUILD_DIR defaults to build/host (a Release build gives the numbers that count), RUNS to 3,
# MAKE_PAYLOAD to ../shared/tools/make-payload.py beside the checkout (it takes DIR --mb N
# --files N). Everything is made in a folder under /tmp, removed at the end. Run by hand, never
# as a test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/host}")
runs=${2:-3}
make_payload=${3:-$root/../shared/tools/make-payload.py}
kxbuild=$build/bin/kxbuild engine=$build/bin/kxsetup
[[ -x $kxbuild && -x $engine ]] || { echo "no kxbuild or kxsetup in $build/bin" >&2; exit 2; }
[[ -f $make_payload ]] || { echo "no payload maker at $make_payload" >&2; exit 2; }
command -v cabextract >/dev/null || { echo "cabextract is not installed" >&2; exit 2; }

work=$(mktemp -d /tmp/kx-compare-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
windows_name() { echo "Z:$(echo "$1" | tr / '\\')"; }

# A setup of MB MiB in FILES files at $work/MB/setup/Bench.
make_setup() {  # mb files
  local dir=$work/$1 components=""
  mkdir -p "$dir/project/payload" "$dir/setup"
  python3 "$make_payload" "$dir/project/payload" --mb "$1" --files "$2" >/dev/null
  for component in $(ls "$dir/project/payload"); do
    components+="<component id=\"$component\"><files>"
    components+="<file src=\"*.*\" dst=\"%InstallPath%\\$component\\*.*\"/></files></component>"
  done
  cat >"$dir/project/bench.xml" <<EOF
<kx2project version="1.0">
  <variables>
    <var name="AppName" value="Benchmark"/>
    <var name="InstallPath" value="%ProgramFiles%\\Benchmark"/>
  </variables>
  <packages><package/></packages>
  <components>$components</components>
</kx2project>
EOF
  "$kxbuild" "$(windows_name "$dir/project/bench.xml")" -o "$(windows_name "$dir/setup/Bench")" \
    --target host --stub "$(windows_name "$engine")" >"$dir/kxbuild.log"
  chmod +x "$dir/setup/Bench"
}

# Seconds and peak KiB of one command, after clean runs as: "seconds kib".
measure() {  # clean-command, command...
  local clean=$1
  shift
  eval "$clean"
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
  cat "$work/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Median seconds of RUNS runs, and the largest peak memory seen; prints "seconds kib".
repeat() {  # clean-command, command...
  local results=()
  for ((run = 0; run < runs; run++)); do results+=("$(measure "$@")"); done
  printf '%s\n' "${results[@]}" | awk '{ print $1 }' | median | tr '\n' ' '
  printf '%s\n' "${results[@]}" | awk '{ if ($2 > m) m = $2 } END { print m }'
}

report() {  # mb files
  local dir=$work/$1
  make_setup "$1" "$2"
  export KX_ROOT=$dir/machine TMPDIR=$dir/tmp
  mkdir -p "$TMPDIR"
  read -r engine_s engine_kib < <(repeat "rm -rf '$KX_ROOT'" "$dir/setup/Bench" /s)
  [ -f "$KX_ROOT/drive_c/Program Files/Benchmark/install.log" ] ||
    [ -d "$KX_ROOT/drive_c/Program Files/Benchmark" ] || { echo "the engine installed nothing" >&2; exit 1; }
  read -r cab_s cab_kib < <(repeat "rm -rf '$dir/cab'" cabextract -q -d "$dir/cab" "$dir/setup/Bench")
  read -r cp_s cp_kib < <(repeat "rm -rf '$dir/copy'" cp -r "$dir/project/payload" "$dir/copy")
  local files
  files=$(find "$dir/project/payload" -type f | wc -l)
  printf '%4d MiB, %4d files: engine %6.2f s (%5.2fx cabextract, %5.2fx cp -r), peak %6d KiB\n' \
    "$1" "$files" "$engine_s" "$(echo "$engine_s / $cab_s" | bc -l)" \
    "$(echo "$engine_s / $cp_s" | bc -l)" "$engine_kib"
  printf '                      cabextract %6.2f s, peak %6d KiB; cp -r %6.2f s, peak %6d KiB\n' \
    "$cab_s" "$cab_kib" "$cp_s" "$cp_kib"
}

echo "medians of $runs runs; $build"
report 50 500
report 200 2000
