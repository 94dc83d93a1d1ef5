#!/usr/bin/env bash
# Libraries planted beside a setup program under the names of system libraries are never loaded:
# each one leaves a marker file beside itself when it is. Under Wine ($WINEPREFIX initialised).
#   library_search.sh ENGINE KXBUILD DEMO_DIR PLANTED_DLL PROBE WORKDIR
# The setup: Wine's shell32 needs shcore.dll, which Wine takes from the program's folder when a
# copy lies there; the other names are system libraries that system code loads by name.
# The probe: Wine restricts the search (SetDefaultDllDirectories), so the preloading that older
# Windows needs never runs in the setup here. The probe loads libraries by name as system code
# does: plain, the planted copies are taken (the fault on those systems); after the preloading,
# none is.
set -u
engine=$1 kxbuild=$2 demo=$3 planted=$4 probe=$5 work=$6
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"

plant() {  # folder, library names...
  local folder=$1 name
  shift
  for name in "$@"; do cp "$planted" "$folder/$name"; done
}
markers() { ls "$1" | sed -n 's/\.loaded$//p' | tr '\n' ' '; }

# --- The demo setup, run silently beside planted libraries.
setup_dir="$work/setup"
mkdir -p "$setup_dir"
wine "$kxbuild" "$(winepath -w "$demo/demo.xml")" -o "$(winepath -w "$setup_dir/DemoSetup.exe")" \
  --target win64 --stub "$(winepath -w "$engine")" >"$work/kxbuild.log" 2>&1
check "kxbuild builds the demo setup" [ -f "$setup_dir/DemoSetup.exe" ]
plant "$setup_dir" shcore.dll uxtheme.dll dwmapi.dll version.dll cryptbase.dll ntmarta.dll \
  userenv.dll propsys.dll apphelp.dll setupapi.dll oleacc.dll riched20.dll
out=$(wine "$setup_dir/DemoSetup.exe" /s 2>&1)
code=$?
out=$(echo "$out" | tr -d '\r')
echo "$out" | sed 's/^/    /'
check "the setup installs beside them" [ "$code" -eq 0 ]
loaded=$(markers "$setup_dir")
check "the setup loads none of them${loaded:+ (loaded: $loaded)}" [ -z "$loaded" ]

# --- The probe, loading by name without and with the preloading.
probe_dir="$work/probe"
mkdir -p "$probe_dir"
cp "$probe" "$probe_dir/search_probe.exe"
names="dwmapi.dll userenv.dll propsys.dll apphelp.dll"
plant "$probe_dir" $names
out=$(wine "$probe_dir/search_probe.exe" plain $names 2>&1 | tr -d '\r')
echo "$out" | sed 's/^/    /'
loaded=$(markers "$probe_dir")
check "loaded by name without preloading, planted libraries are taken (${loaded:-none})" \
  [ -n "$loaded" ]
rm -f "$probe_dir"/*.loaded
out=$(wine "$probe_dir/search_probe.exe" preload $names 2>&1 | tr -d '\r')
echo "$out" | sed 's/^/    /'
loaded=$(markers "$probe_dir")
check "after the preloading, none is${loaded:+ (loaded: $loaded)}" [ -z "$loaded" ]

finish
