#!/usr/bin/env bash
# Prints the sizes of the programs every package carries, per target, from the build folders that
# exist: the engine stub, the uninstaller, the unpack library the stub embeds, and the autopilot
# plug-in. "built" is the file in the build folder, "stripped" what the kit ships (the file without
# its symbols, as `cmake --install` puts it in the kit).
#   size-report.sh [BUILD_ROOT]        (default: build/ of the source tree)
set -euo pipefail
root=${1:-"$(dirname "$0")/../build"}
scratch=$(mktemp)
trap 'rm -f "$scratch"' EXIT

printf '%-7s %-15s %12s %12s\n' target program built stripped
for target in host win32 win64; do
  build=$root/$target
  [ -d "$build" ] || continue
  if [ "$target" = host ]; then stub=kxsetup unpack=unpack.so; else stub=kxsetup.exe unpack=unpack.dll; fi
  for file in "bin/$stub" bin/Uninstall.exe "unpack/$unpack" plugins/autopilot.dll; do
    if [ ! -f "$build/$file" ]; then
      printf '%-7s %-15s %12s %12s\n' "$target" "$(basename "$file")" "not built" -
      continue
    fi
    # The host's binutils read both ELF and PE files.
    strip -o "$scratch" "$build/$file"
    printf '%-7s %-15s %12d %12d\n' "$target" "$(basename "$file")" \
      "$(stat -c %s "$build/$file")" "$(stat -c %s "$scratch")"
  done
done
