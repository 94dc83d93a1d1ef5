#!/usr/bin/env bash
# Whole runs of kxbuild against `gcab -cz` on the same payload: about 200 MiB in files of mixed
# content (random bytes, text, code-like), made by a seeded generator so that every run sees the
# same bytes. kxbuild builds a host setup whose one component takes the whole payload folder with
# a wildcard; gcab packs the same files into one MS-ZIP cabinet. Prints the median times, their
# spread, and the ratios of time and size (kxbuild / gcab; kxbuild's size without its stub).
#
#   benchmarks/compare_kxbuild_gcab.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/host (kxbuild is BUILD_DIR/bin/kxbuild), RUNS to 5. Uses hyperfine
# when installed, otherwise repeated /usr/bin/time runs. Everything is made in a folder under /tmp,
# removed at the end. Run by hand, never as a test.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
runs=${2:-5}
kxbuild=$build/bin/kxbuild
[[ -x $kxbuild ]] || { echo "no kxbuild at $kxbuild (build it first)" >&2; exit 2; }
command -v gcab >/dev/null || { echo "gcab is not installed" >&2; exit 2; }

work=$(mktemp -d /tmp/kx-compare-kxbuild-gcab-XXXXXX)
trap 'rm -rf "$work"' EXIT
payload=$work/project/payload/app
out=$work/out
mkdir -p "$payload" "$out"
# kxbuild wants a program of the target as its stub; any small Linux program will do.
stub=$(type -P true)

echo "Generating the payload in $payload ..."
python3 - "$payload" $((200 << 20)) <<'EOF'
import os, random, sys

folder, total = sys.argv[1], int(sys.argv[2])
rng = random.Random(42)
written = index = 0
while written < total:
    size = 40000 + index % 7 * 40000
    kind = index % 3
    if kind == 0:  # compressed or enciphered data
        data = rng.randbytes(size)
    elif kind == 1:  # text
        parts, length = [], 0
        while length < size:
            line = b"line %d of a readme or a configuration file\r\n" % length
            parts.append(line)
            length += len(line)
        data = b"".join(parts)[:size]
    else:  # code: structured, partly repetitive
        data = b"".join(bytes([b % 16]) + b"\x8B\x45\x08\x50\xE8"
                        for b in rng.randbytes(size // 6 + 1))[:size]
    with open(os.path.join(folder, "file%d.bin" % index), "wb") as f:
        f.write(data)
    written += size
    index += 1
print("%d files, %d bytes" % (index, written))
EOF

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
# The C locale sorts the names as kxbuild orders them.
gcab_command="cd '$payload' && LC_ALL=C gcab -cz '$out/gcab.cab' * >/dev/null"
clean="rm -f '$out/setup' '$out/gcab.cab'"

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
