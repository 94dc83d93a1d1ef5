#!/usr/bin/env bash
# Whole runs of kxbuild against `gcab -cz` on the same payload: 200 MiB in 2000 files of mixed
# content (a few large files and many small ones; text, structured and random data, in nested
# folders), made by the seeded payload maker so that every run sees the same bytes. kxbuild builds
# a host setup whose one component takes the whole payload folder with a wildcard, compressing on
# every core (its default); gcab packs the same files, in the same order, into one MS-ZIP
# cabinet. Prints the median times, their spread, the ratios of time and size (kxbuild / gcab;
# kxbuild's size without its stub), the number of cores and the load before and after: the
# figures mean something only on a quiet machine.
#
#   benchmarks/compare_kxbuild_gcab.sh [BUILD_DIR] [RUNS] [MAKE_PAYLOAD]
#
# BUILD_DIR defaults to build/host (kxbuild is BUILD_DIR/bin/kxbuild), RUNS to 5, MAKE_PAYLOAD to
# ../shared/tools/make-payload.py beside the checkout (it takes DIR --mb N --files N). Uses
# hyperfine when installed, otherwise repeated /usr/bin/time runs. Everything is made in a folder
# under /tmp, removed at the end. Run by hand, never as a test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
runs=${2:-5}
make_payload=${3:-$root/../shared/tools/make-payload.py}
kxbuild=$build/bin/kxbuild
[[ -x $kxbuild ]] || { echo "no kxbuild at $kxbuild (build it first)" >&2; exit 2; }
[[ -f $make_payload ]] || { echo "no payload maker at $make_payload" >&2; exit 2; }
command -v gcab >/dev/null || { echo "gcab is not installed" >&2; exit 2; }

work=$(mktemp -d /tmp/kx-compare-kxbuild-gcab-XXXXXX)
trap 'rm -rf "$work"' EXIT
payload=$work/project/payload/app
out=$work/out
mkdir -p "$payload" "$out"
# kxbuild wants a program of the target as its stub; any small Linux program will do.
stub=$(type -P true)

echo "Generating the payload in $payload ..."
python3 "$make_payload" "$payload" --mb 200 --files 2000
# The files in kxbuild's order: by relative path, without regard to case.
(cd "$payload" && find . -type f | sed 's|^\./||' | LC_ALL=C sort -f) >"$work/files.txt"

cat >"$work/project/bench.xml" <<'EOF'
<kx2project version="1.0">
  <variables>
    <var name="AppName" value="Benchmark"/>
    <var name="AppID" value="KxBenchmark"/>
    <var name="InstallDir" value="%ProgramFiles%\Benchmark"/>
  </variables>
  <components>
    <component id="app" name="Program">
      <files><file src="*.*" dst="%InstallDir%\*.*"/></files>
    </component>
  </components>
  <features>
    <feature id="main" name="Program" required="1">
      <components><component id="app"/></components>
    </feature>
  </features>
  <installtypes>
    <installtype id="full" name="Full" default="1">
      <features><feature id="main"/></features>
    </installtype>
  </installtypes>
</kx2project>
EOF

kx_command="'$kxbuild' '$work/project/bench.xml' -o '$out/setup' --target host --stub '$stub' --compression mszip >/dev/null"
gcab_command="cd '$payload' && xargs -d '\n' gcab -cz '$out/gcab.cab' <'$work/files.txt' >/dev/null"
clean="rm -f '$out/setup' '$out/gcab.cab'"

echo "$(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 --runs "$runs" --prepare "$clean" --export-json "$work/times.json" \
    -n kxbuild "$kx_command" -n "gcab -cz" "$gcab_command"
  python3 - "$work/times.json" >"$work/times.txt" <<'EOF'
import json, sys
for result in json.load(open(sys.argv[1]))["results"]:
    print(" ".join(str(t) for t in result["times"]))
EOF
else
  : >"$work/times.txt"
  for command in "$kx_command" "$gcab_command"; do
    line=""
    for ((i = 0; i <= runs; ++i)); do  # the first run warms the caches and is not counted
      eval "$clean"
      t=$( { /usr/bin/time -f %e bash -c "$command" >/dev/null; } 2>&1 | tail -n 1)
      ((i > 0)) && line+="$t "
    done
    echo "$line" >>"$work/times.txt"
  done
fi

echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
# The outputs of the last runs.
eval "$clean"
eval "$kx_command"
eval "$gcab_command"
stub_size=$(stat -c %s "$stub")
python3 - "$work/times.txt" "$(stat -c %s "$out/setup")" "$stub_size" \
  "$(stat -c %s "$out/gcab.cab")" <<'EOF'
import statistics, sys

kx, gc = ([float(t) for t in line.split()] for line in open(sys.argv[1]))
setup, stub, cab = (int(a) for a in sys.argv[2:5])
for name, times in (("kxbuild", kx), ("gcab -cz", gc)):
    print("%-9s median %.3f s  (min %.3f, max %.3f, %d runs)"
          % (name, statistics.median(times), min(times), max(times), len(times)))
print("time ratio kxbuild / gcab: %.3f" % (statistics.median(kx) / statistics.median(gc)))
print("sizes: kxbuild %d bytes (%d without the stub), gcab %d bytes" % (setup, setup - stub, cab))
print("size ratio kxbuild / gcab: %.4f (without the stub)" % ((setup - stub) / cab))
EOF
