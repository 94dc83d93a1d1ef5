#!/usr/bin/env bash
# Drives kxbuild as a vendor would: a small project with two packages is built, and what it wrote
# is read back with tools that are not ours (cabextract, gcab, od) and with kxtool decipher.
#   kxbuild_test.sh KXBUILD KXTOOL WORKDIR
# Programs ending in ".exe" run under Wine ($WINEPREFIX must be initialised).
kxbuild=$1
shift
source "$(dirname "$0")/kxtool_lib.sh" "$@"

if [[ $kxbuild == *.exe ]]; then
  kxbuild_command=(wine "$kxbuild")
else
  kxbuild_command=("$kxbuild")
fi
# A limit, so that a kxbuild that hangs fails its test instead of the whole run.
run_kxbuild() { timeout 120 "${kxbuild_command[@]}" "$@"; }
# Each build: kxbuild's arguments; the message in $err, the exit code in $code.
kb() {
  run_kxbuild "$@" >"$work/stdout" 2>"$work/stderr"
  code=$?
  err=$(tr -d '\r' <"$work/stderr")
}

u32_at() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }  # file, offset
size_of() { stat -c %s "$1"; }
# "size name" per entry, in cabinet order, names with "/" as cabextract shows them.
cab_list() { cabextract -l "$1" 2>/dev/null | awk -F' [|] ' '/^ *[0-9]+ [|]/ {print $1+0, $3}'; }
cab_names() { cab_list "$1" | awk '{print $2}' | tr '\n' ' '; }
lists_same() { [ "$1" = "$2" ] || { echo "  got:      $1"; echo "  expected: $2"; false; }; }
xml_has() { grep -qF -- "$2" "$1"; }

# --- the project: "core" in the main package (wildcards, a subfolder, a file without extension,
# a PE file, an external item, an item being removed), "docs" in the further package "extras"
proj=$work/proj
mkdir -p "$proj/payload/core/bin/sub" "$proj/payload/core/bin/empty" "$proj/payload/docs/guide" \
  "$proj/art" "$proj/ui"
printf 'read me\n' >"$proj/payload/core/readme.txt"
printf 'A' >"$proj/payload/core/bin/a.dll"
printf 'BB' >"$proj/payload/core/bin/sub/b.DLL"
printf 'not packed: no item matches it\n' >"$proj/payload/core/bin/c.txt"
printf 'licence terms\n' >"$proj/payload/core/LICENSE"
printf 'manual\n' >"$proj/payload/docs/manual.txt"
printf 'chapter\n' >"$proj/payload/docs/guide/one.txt"
printf 'not packed: the docs item wants *.txt\n' >"$proj/payload/docs/guide/pic.png"
for i in $(seq 2000); do echo "line $i of a file that compresses well"; done >"$proj/payload/core/big.log"
pe_dll=$(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/version.dll 2>/dev/null | head -1)
[ -n "$pe_dll" ] && cp "$pe_dll" "$proj/payload/core/bin/ver.dll"
printf 'You agree.\n' >"$proj/license.txt"
printf 'BM%s' "$(head -c 60 /dev/zero | tr '\0' 'x')" >"$proj/art/splash.bmp"
# The plug-ins built with kxbuild for its target lie in plugins/ beside its bin/ folder.
plugins=$(dirname "$kxbuild")/../plugins
target=host
[[ $kxbuild == *.exe ]] && target=win64
cp "$plugins/testfail_refused.dll" "$proj/ui/libui.so"
printf '[ui]\n' >"$proj/ui/ui.ini"
touch -d '2020-01-02 03:04:06' "$proj"/payload/core/* "$proj"/payload/core/bin/* "$proj/project.xml"

write_project() {  # extra XML for the core component's files, then the whole <build> element
  cat >"$proj/project.xml" <<EOF
<kx2project version="2.0">
  <variables><var name="AppName" value="Demo"/><var name="AppID" value="demo"/>
    <var name="Greeting" value="Hello  World"/></variables>
  <packages>
    <package>
      <variables><var name="MainOnly" value="1"/></variables>
      <plugins><plugin id="ui" configfile="ui.ini"/></plugins>
    </package>
    <package filename="extras"><variables><var name="ExtrasOnly" value="2"/></variables></package>
  </packages>
  <components>
    <component id="core" name="Core files">
      <files>
        <file src="readme.txt" dst="%InstallDir%\\readme.txt"/>
        <file src="bin\\*.dll" dst="%InstallDir%\\bin\\*.*" condition="0"/>
        <file src="LICENSE" dst="%InstallDir%\\LICENSE"/>
        <file src="big.log" dst="%InstallDir%\\big.log"/>
        <file src="C:\\outside\\*.txt" dst="%InstallDir%\\ext\\*.*" flags="external"/>
        <file src="gone.txt" dst="%InstallDir%\\gone.txt" action="remove"/>
        $1
      </files>
      <registry><reg key="HKCU\\Software\\Demo" param="Path" value="%InstallDir%"/>
        <reg key="HKCU\\Software\\Demo" param="Motto" value="two  spaces"/></registry>
    </component>
    <component id="docs" name="Manuals" package="extras">
      <files><file src="*.txt" dst="%InstallDir%\\docs\\*.*"/></files>
    </component>
  </components>
  <features>
    <feature id="main" name="Program"><components><component id="core"/></components></feature>
    <feature id="help" name="Help"><components><component id="docs"/></components></feature>
  </features>
  <installtypes><installtype id="full" default="1"><features><feature id="main"/><feature id="help"/></features></installtype></installtypes>
  <launchconditions><launchcondition condition="1" msg="never"/></launchconditions>
  $2
</kx2project>
EOF
}
good_build='<build output="out/setup" payload="payload">
    <splash src="art/splash.bmp" time="3" transparent="#00FF00" opacity="50"/>
    <presetup src="license.txt"/>
    <plugin id="ui"><file src="ui/libui.so" name="ui.dll"/><file src="ui/ui.ini"/></plugin>
  </build>'
write_project "" "$good_build"
# kxbuild makes the output folder itself

# --- a good build
kb "$(file_arg "$proj/project.xml")"
check "a good build exits 0" [ "$code" -eq 0 ]
[ "$code" -eq 0 ] || echo "$err"
main=$proj/out/setup extras=$proj/out/extras.kxp
check "the main package is written" [ -s "$main" ]
check "the further package lies beside it" [ -s "$extras" ]

# --- what the cabinets hold, in order: presetup files first, data in item order
expected_main="splash.bmp license.txt lng/DEU.lng lng/ENU.lng Uninstall.exe plugins/0/ui.dll \
plugins/0/ui.ini db.pdb main.pdb data/core/readme.txt data/core/bin/a.dll data/core/bin/sub/b.DLL"
[ -n "$pe_dll" ] && expected_main+=" data/core/bin/ver.dll"
expected_main+=" data/core/LICENSE data/core/big.log "
check "main package entries and their order" lists_same "$(cab_names "$main")" "$expected_main"
check "further package entries" \
  lists_same "$(cab_names "$extras")" "db.pdb data/docs/guide/one.txt data/docs/manual.txt "
quietly() { "$@" >/dev/null 2>&1; }
check "gcab lists the further package" quietly gcab -l "$extras"
check "cabextract tests both packages" quietly cabextract -q -t "$main" "$extras"

# The cabinet inside the main package, cut out by the trailer's numbers, is one gcab reads.
built=$(u32_at "$main" $(($(size_of "$main") - 18)))
stub_size=$(size_of "$(dirname "$kxbuild")/kxsetup$([[ $kxbuild == *.exe ]] && echo .exe)")
head -c $((built - 18)) "$main" | tail -c +$((stub_size + 1)) >"$work/main.cab"
check "the main package is the stub followed by the cabinet" \
  cmp -s -n "$stub_size" "$main" "$(dirname "$kxbuild")/kxsetup$([[ $kxbuild == *.exe ]] && echo .exe)"
check "gcab lists the cabinet of the main package" quietly gcab -l "$work/main.cab"

# --- the trailer: BuiltSize, PresetupSize, DataSize, "KXPEND"
trailer_ok() {  # package
  local size data presetup
  size=$(size_of "$1")
  [ "$(tail -c 6 "$1")" = "KXPEND" ] || return 1
  data=$(cab_list "$1" | awk '$2 ~ /^data\// {s += $1} END {print s + 0}')
  presetup=$(cab_list "$1" | awk '$2 !~ /^data\// {s += $1} END {print s + 0}')
  [ "$(u32_at "$1" $((size - 18)))" -eq "$size" ] &&
    [ "$(u32_at "$1" $((size - 14)))" -eq "$presetup" ] &&
    [ "$(u32_at "$1" $((size - 10)))" -eq "$data" ] && [ "$data" -gt 0 ]
}
check "main package trailer" trailer_ok "$main"
check "further package trailer" trailer_ok "$extras"

# --- the extracted files
x=$work/x
cabextract -q -d "$x" "$main" 2>/dev/null
same_files=1
for f in readme.txt bin/a.dll bin/sub/b.DLL LICENSE big.log; do
  cmp -s "$proj/payload/core/$f" "$x/data/core/$f" || { same_files=0; echo "  differs: $f"; }
done
check "data files come back byte for byte" [ "$same_files" -eq 1 ]
check "the plug-in library goes by its new name" cmp -s "$proj/ui/libui.so" "$x/plugins/0/ui.dll"
check "the engine's language files are packed" cmp -s "$x/lng/ENU.lng" "$(dirname "$0")/../../lng/ENU.lng"
splash_ok() {
  local s=$x/splash.bmp n
  n=$(size_of "$s")
  cmp -s -n 62 "$s" "$proj/art/splash.bmp" && [ "$n" -eq 74 ] &&
    [ "$(u32_at "$s" 62)" -eq 3 ] && [ "$(u32_at "$s" 66)" -eq $((0x00FF00)) ] &&
    [ "$(u32_at "$s" 70)" -eq 50 ]
}
check "the splash gets its trailer: time, colour, opacity" splash_ok
check "file times are kept" [ "$(date -r "$x/data/core/LICENSE" +%F)" = 2020-01-02 ]

# --- the uninstaller: packed from beside the stub; started without an install log, it says how
# to start it and exits -1
uninstaller=$(dirname "$kxbuild")/Uninstall.exe
check "the uninstaller beside the stub is packed as Uninstall.exe" cmp -s "$x/Uninstall.exe" "$uninstaller"
kx inspect "$(file_arg "$main")"
check "kxtool inspect lists it" grep -q ' Uninstall\.exe$' "$work/stdout"
if [[ $kxbuild == *.exe ]]; then
  wine "$uninstaller" >"$work/stdout" 2>"$work/stderr"
else
  "$uninstaller" >"$work/stdout" 2>"$work/stderr"
fi
check "the uninstaller without a log exits -1" [ "$?" -eq 255 ]
check "... saying how to start it" grep -qF 'Usage: Uninstall.exe "INSTALL LOG"' "$work/stderr"

# --- the databases, deciphered
kx decipher "$(file_arg "$x/main.pdb")" "$(file_arg "$work/main.xml")"
kx decipher "$(file_arg "$x/db.pdb")" "$(file_arg "$work/db.xml")"
mkdir -p "$work/xe" && cabextract -q -d "$work/xe" "$extras" 2>/dev/null
kx decipher "$(file_arg "$work/xe/db.pdb")" "$(file_arg "$work/extras.xml")"
main_xml_ok() {
  local m=$work/main.xml
  xml_has "$m" '<kx2project version="2.0">' && xml_has "$m" '<package filename="extras"/>' &&
    xml_has "$m" '<component id="core" name="Core files"/>' &&
    xml_has "$m" '<component id="docs" name="Manuals" package="extras"/>' &&
    xml_has "$m" '<feature id="help" name="Help">' && xml_has "$m" '<installtype default="1"' &&
    xml_has "$m" '<launchcondition condition="1" msg="never"/>' &&
    xml_has "$m" '<var name="AppID" value="demo"/>' &&
    ! xml_has "$m" '<files>' && ! xml_has "$m" 'MainOnly' && ! xml_has "$m" '<build'
}
check "main.pdb: the project without component items" main_xml_ok
db_xml_ok() {
  local d=$work/db.xml
  xml_has "$d" '<file condition="0" dst="%InstallDir%\bin\*.*" src="bin\*.dll"/>' &&
    xml_has "$d" '<reg key="HKCU\Software\Demo"' && xml_has "$d" '<plugin configfile="ui.ini" id="ui"/>' &&
    xml_has "$d" '<var name="MainOnly" value="1"/>' &&
    xml_has "$d" '<fileinfo name="core\bin\sub\b.DLL" size="2"/>' &&
    xml_has "$d" '<fileinfo name="core\big.log" size="'"$(size_of "$proj/payload/core/big.log")"'"/>' &&
    ! xml_has "$d" 'filename=' && ! xml_has "$d" 'docs' && ! xml_has "$d" 'ExtrasOnly'
}
check "db.pdb of the main package" db_xml_ok
extras_xml_ok() {
  local e=$work/extras.xml
  xml_has "$e" '<component id="docs" name="Manuals" package="extras">' &&
    xml_has "$e" '<fileinfo name="docs\guide\one.txt" size="8"/>' &&
    xml_has "$e" '<var name="ExtrasOnly" value="2"/>' && ! xml_has "$e" 'core'
}
check "db.pdb of the further package" extras_xml_ok
# The engine keeps runs of spaces in values; so must what it is given.
check "a variable keeps its two spaces" xml_has "$work/main.xml" '<var name="Greeting" value="Hello  World"/>'
check "a registry value keeps its two spaces" xml_has "$work/db.xml" 'param="Motto" value="two  spaces"/>'
if [ -n "$pe_dll" ]; then
  kx eval "FileVersion(\"$(file_arg "$proj/payload/core/bin/ver.dll")\")"
  version=$(tr -d '\r\n' <"$work/stdout")
  check "a PE file's version is recorded as the engine reads it" \
    xml_has "$work/db.xml" "<fileinfo name=\"core\\bin\\ver.dll\" size=\"$(size_of "$pe_dll")\" version=\"$version\"/>"
  check "... and it is a real version" [ "${version:-0}" != 0 ]
else
  echo "note: no PE file with a version resource found; version check skipped"
fi

# --- reproducible: the same inputs give the same bytes, wherever the output goes
mkdir -p "$proj/again"
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/again/setup")"
check "a second build succeeds" [ "$code" -eq 0 ]
check "the main package is reproduced byte for byte" cmp -s "$main" "$proj/again/setup"
check "the further package too" cmp -s "$extras" "$proj/again/extras.kxp"

# --- folders: the data goes in folders of its own, cut between files; they are compressed on
# several threads, and the output is the same bytes for any number of them
for i in 1 2 3; do
  { head -c 2000000 /dev/urandom; for j in $(seq 60000); do echo "line $j of part $i"; done; } \
    >"$proj/payload/docs/part$i.txt"
done
folders_of() { od -A n -t u2 -j "${2:-0}" -N 2 "$1" | tr -d ' '; }  # package, cabinet offset
mkdir -p "$proj/jobs1" "$proj/jobs4"
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/jobs1/setup")" --jobs 1
check "--jobs 1 builds" [ "$code" -eq 0 ]
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/jobs4/setup")" --jobs 4
check "--jobs 4 builds" [ "$code" -eq 0 ]
check "... the same main package as --jobs 1" cmp -s "$proj/jobs1/setup" "$proj/jobs4/setup"
check "... the same further package" cmp -s "$proj/jobs1/extras.kxp" "$proj/jobs4/extras.kxp"
# db.pdb alone, then the small files with part1.txt, then part2.txt and part3.txt
check "the further package has a folder for its presetup entry and three for its data" \
  [ "$(folders_of "$proj/jobs4/extras.kxp" 26)" -eq 4 ]
# At least one folder of presetup entries (a large uninstaller, as the sanitized build's, takes
# one of its own) and the data's; that preparation never reads a data block is the engine's test.
check "the main package's presetup and data entries are in folders of their own" \
  [ "$(folders_of "$proj/jobs4/setup" $((stub_size + 26)))" -ge 2 ]
check "cabextract tests the package of several folders" \
  quietly cabextract -q -t "$proj/jobs4/extras.kxp"
mkdir -p "$work/xg" && (cd "$work/xg" && gcab -x "$proj/jobs4/extras.kxp" >/dev/null 2>&1)
mkdir -p "$work/xc" && cabextract -q -d "$work/xc" "$proj/jobs4/extras.kxp" 2>/dev/null
parts_back() {  # folder extracted to
  for i in 1 2 3; do cmp -s "$proj/payload/docs/part$i.txt" "$1/data/docs/part$i.txt" || return 1; done
  cmp -s "$proj/payload/docs/manual.txt" "$1/data/docs/manual.txt"
}
check "gcab extracts every file of every folder" parts_back "$work/xg"
check "cabextract too" parts_back "$work/xc"
for jobs in 0 x 65; do
  kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/jobs1/setup")" --jobs "$jobs"
  check "--jobs $jobs is a usage error" [ "$code" -eq 2 ]
  check "... saying what it needs" stderr_has "needs a number of threads"
done
rm -rf "$proj/payload/docs"/part*.txt "$proj/jobs1" "$proj/jobs4"

# --- options override the <build> element
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/again/plain")" --compression none
check "--compression none builds" [ "$code" -eq 0 ]
check "... a cabinet that extracts" quietly cabextract -q -t "$proj/again/plain"
check "... and is larger than the compressed one" \
  [ "$(size_of "$proj/again/plain")" -gt "$(size_of "$main")" ]
check "... with no compression in its folder record" \
  [ "$(od -A n -t u2 -j $((stub_size + 36 + 6)) -N 2 "$proj/again/plain" | tr -d ' ')" -eq 0 ]
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/again/bad")" --stub "$(file_arg "$proj/license.txt")"
check "a stub that is no program is refused" [ "$code" -eq 2 ]
check "... saying so" stderr_has "engine stub"
check "... and nothing is left behind" [ ! -e "$proj/again/bad" ]
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/again/own")" \
  --uninstaller "$(file_arg "$kxtool")"
mkdir -p "$work/xo" && cabextract -q -d "$work/xo" "$proj/again/own" 2>/dev/null
check "--uninstaller packs that program as Uninstall.exe" cmp -s "$work/xo/Uninstall.exe" "$kxtool"
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/again/bad")" \
  --uninstaller "$(file_arg "$proj/license.txt")"
check "an uninstaller that is no program is refused" [ "$code" -eq 2 ] && stderr_has "uninstaller"
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/again/bad")" \
  --uninstaller "$(file_arg "$proj/missing.exe")"
check "a missing uninstaller is refused" [ "$code" -eq 2 ] && stderr_has "does not exist"
check "... and nothing is left behind" [ ! -e "$proj/again/bad" ]
other_target=win32
[[ $kxbuild == *.exe ]] || other_target=win64
kb "$(file_arg "$proj/project.xml")" -o "$(file_arg "$proj/again/bad")" --target "$other_target"
check "a stub of another target is refused" [ "$code" -eq 2 ]
check "... naming the target" stderr_has "target $other_target"

# --- build errors: exit 2, a message naming the fault, no package written
nothing_written() { [ ! -e "$proj/out/setup" ] && [ ! -e "$proj/out/extras.kxp" ]; }
build_fails() {  # description, expected message part, extra file items, build element
  write_project "$3" "$4"
  rm -f "$proj/out/setup" "$proj/out/extras.kxp"
  kb "$(file_arg "$proj/project.xml")"
  check "$1 exits 2" [ "$code" -eq 2 ]
  check "$1 is explained" stderr_has "$2"
  [ "$code" -eq 2 ] && stderr_has "$2" || echo "  message: $err"
  check "$1 writes nothing" nothing_written
}
build_fails "a missing source" 'the file "bin\missing.dll" is not in the payload folder' \
  '<file src="bin\missing.dll" dst="x"/>' "$good_build"
build_fails "a source with a forward slash" 'uses "/"' '<file src="bin/a.dll" dst="x"/>' "$good_build"
build_fails "a source leaving the component" 'not a path relative' '<file src="..\docs\manual.txt" dst="x"/>' "$good_build"
write_project "" "$good_build"
sed -i 's|<component id="docs"|<component id="CORE"|' "$proj/project.xml"
rm -f "$proj/out/setup"
kb "$(file_arg "$proj/project.xml")"
check "a duplicate ID (case ignored) exits 2" [ "$code" -eq 2 ]
check "a duplicate ID is named" stderr_has 'Duplicate component ID "CORE"'
for bad in '..' 'a\\b' 'a/b' 'c:x' '.hidden' '' 'nul' 'com1.x' 'core.'; do
  write_project "" "$good_build"
  sed -i "s|<component id=\"docs\"|<component id=\"$bad\"|" "$proj/project.xml"
  kb "$(file_arg "$proj/project.xml")"
  check "the ID \"$bad\" is refused" [ "$code" -eq 2 ]
  check "the ID \"$bad\" is named" stderr_has "is not a plain name"
done
write_project "" "$good_build"
sed -i 's|package="extras">|package="nowhere">|' "$proj/project.xml"
kb "$(file_arg "$proj/project.xml")"
check "an unknown package exits 2" [ "$code" -eq 2 ]
check "an unknown package is named" stderr_has 'names the package "nowhere"'
build_fails "a plug-in entry without library" 'Plug-in "ui" of the main package has no library' "" \
  '<build output="out/setup"><presetup src="license.txt"/></build>'
build_fails "a misspelt <build> attribute" 'unknown attribute "compresion"' "" \
  '<build output="out/setup" compresion="none"/>'
build_fails "a splash that is no bitmap" 'is no Windows bitmap' "" \
  '<build output="out/setup"><splash src="license.txt"/><plugin id="ui"><file src="ui/libui.so" name="ui.dll"/></plugin></build>'
for bad in 'docs\aux.txt' 'x.txt.' 'a?.txt'; do
  build_fails "a presetup name \"$bad\" the engine refuses" 'is not a relative path inside the package' "" \
    "<build output=\"out/setup\"><presetup src=\"license.txt\" name=\"$bad\"/><plugin id=\"ui\"><file src=\"ui/libui.so\" name=\"ui.dll\"/></plugin></build>"
done
build_fails "a presetup file named like the uninstaller" 'cannot be named "uninstall.EXE"' "" \
  '<build output="out/setup"><presetup src="license.txt" name="uninstall.EXE"/><plugin id="ui"><file src="ui/libui.so" name="ui.dll"/></plugin></build>'
build_fails "a presetup file named like a data entry" 'cannot be named "data\x.txt"' "" \
  '<build output="out/setup"><presetup src="license.txt" name="data\x.txt"/><plugin id="ui"><file src="ui/libui.so" name="ui.dll"/></plugin></build>'

# --- plug-in libraries: only a library of the target is packed
# A PE file with just the headers kxbuild reads: machine, characteristics (0x2000: a DLL).
pe_file() { # path, machine as printf bytes, characteristics as printf bytes
  { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0'; printf "$2"; head -c 16 /dev/zero
    printf "$3"; head -c 64 /dev/zero; } >"$1"
}
pe_file "$proj/ui/pe64.dll" '\x64\x86' '\x02\x20'
pe_file "$proj/ui/pe32.dll" '\x4c\x01' '\x02\x21'
pe_file "$proj/ui/pe64.exe" '\x64\x86' '\x02\x00'
pe_file "$proj/ui/arm.dll" '\x64\xaa' '\x02\x20'
{ printf '\x7fELF\x02\x01\x01'; head -c 9 /dev/zero; printf '\x03\0'; head -c 46 /dev/zero; } \
  >"$proj/ui/elf.so"
printf 'user interface library' >"$proj/ui/text.dll"
plugin_build() { # the source of ui.dll; then attributes of <build> and of the <file>
  echo "<build output=\"out/setup\" ${2:-}><plugin id=\"ui\"><file src=\"$1\" name=\"ui.dll\" ${3:-}/><file src=\"ui/ui.ini\"/></plugin></build>"
}
declare -A kind_of=([ui/pe64.dll]="a 64-bit Windows DLL" [ui/pe32.dll]="a 32-bit Windows DLL"
  [ui/pe64.exe]="a 64-bit Windows program" [ui/elf.so]="a Linux shared object"
  [ui/arm.dll]="no program or library kxbuild knows" [ui/text.dll]="no program or library kxbuild knows")
declare -A fits=([host]=ui/elf.so [win64]=ui/pe64.dll)
for src in "${!kind_of[@]}"; do
  if [ "$src" = "${fits[$target]}" ]; then
    write_project "" "$(plugin_build "$src")"
    kb "$(file_arg "$proj/project.xml")"
    check "${kind_of[$src]} is packed as a plug-in for $target" [ "$code" -eq 0 ]
  else
    build_fails "${kind_of[$src]} as a plug-in for $target" \
      "${src/\//\\} (packed as ui.dll) is ${kind_of[$src]}; the target $target needs" \
      "" "$(plugin_build "$src")"
  fi
done
# from="plugins": the library of the target's own build, found beside the engine stub or named
write_project "" "$(plugin_build autopilot.dll "" 'from="plugins"')"
kb "$(file_arg "$proj/project.xml")"
check "a plug-in from the target's plug-in folder builds" [ "$code" -eq 0 ]
rm -rf "$work/x2" && mkdir -p "$work/x2" && (cd "$work/x2" && cabextract -q "$main" 2>/dev/null)
check "... and packs that folder's library" cmp -s "$plugins/autopilot.dll" "$work/x2/plugins/0/ui.dll"
mkdir -p "$proj/foreign"
cp "$proj/ui/pe32.dll" "$proj/foreign/autopilot.dll"
build_fails "--plugins naming a folder of another target's libraries" \
  "is a 32-bit Windows DLL; the target $target needs" "" \
  "$(plugin_build autopilot.dll "plugins=\"foreign\"" 'from="plugins"')"
write_project "" "$(plugin_build autopilot.dll "plugins=\"nowhere\"" 'from="plugins"')"
kb "$(file_arg "$proj/project.xml")"
check "a plug-in folder that does not exist exits 2" [ "$code" -eq 2 ]
check "... naming the option" stderr_has 'Name it with --plugins or <build plugins="...">'
kb "$(file_arg "$proj/project.xml")" --plugins "$(file_arg "$plugins")"
check "--plugins overrides <build plugins>" [ "$code" -eq 0 ]
build_fails "a library missing from the plug-in folder" 'nothere.dll does not exist' "" \
  "$(plugin_build nothere.dll "" 'from="plugins"')"
build_fails "a path out of the plug-in folder" 'is no path inside the plug-in folder' "" \
  "$(plugin_build ..\\autopilot.dll "" 'from="plugins"')"

# --- a wildcard that matches nothing is legal, but said
write_project '<file src="bin\*.ocx" dst="x\*.*"/>' "$good_build"
kb "$(file_arg "$proj/project.xml")"
check "a wildcard matching nothing still builds" [ "$code" -eq 0 ]
check "... with a warning" stderr_has 'warning: component "core": "bin\*.ocx" matches no file'

# "bin\*" has no extension, so the engine reads it as "bin\*." and matches only files without one.
write_project '<file src="bin\*" dst="x\*.*"/>' "$good_build"
mkdir -p "$proj/payload/Cor"
kb "$(file_arg "$proj/project.xml")"
check "a mask without extension builds" [ "$code" -eq 0 ]
check "... and matches no file that has an extension" stderr_has '"bin\*" matches no file'
check "a payload folder of no component is reported" \
  stderr_has 'warning: the payload folder "Cor" belongs to no component'
check "... and packs nothing new" lists_same "$(cab_names "$main")" "$expected_main"
rmdir "$proj/payload/Cor"

# --- a project file cut anywhere is refused, with the place where the text ends
write_project "" "$good_build"
cp "$proj/project.xml" "$work/whole.xml"
size=$(size_of "$work/whole.xml")
for cut in 30 $((size / 3)) $((size / 2)) $((size - 9)) $((size - 2)); do
  head -c "$cut" "$work/whole.xml" >"$proj/project.xml"
  rm -f "$proj/out/setup" "$proj/out/extras.kxp"
  kb "$(file_arg "$proj/project.xml")"
  check "a project cut after $cut bytes exits 2" [ "$code" -eq 2 ]
  check "... naming line and position" grep -qE 'not closed\. Line [0-9]+, position [0-9]+\.$' <<<"$err"
  check "... writing nothing" nothing_written
done
cp "$work/whole.xml" "$proj/project.xml"

# --- an output that is an input, however its path is spelt, is refused and the input kept
cp "$(dirname "$kxbuild")/kxsetup$([[ $kxbuild == *.exe ]] && echo .exe)" "$proj/engine"
ln -s engine "$proj/engine-link"
kb "$(file_arg "$proj/project.xml")"
rm -rf "$work/before" && cp -a "$proj" "$work/before"
for output in out/../project.xml LICENSE.TXT payload/core/bin/../readme.txt ui//./ui.ini \
  engine; do
  kb "$(file_arg "$proj/project.xml")" --stub "$(file_arg "$proj/engine-link")" \
    -o "$(file_arg "$proj/$output")"
  check "-o $output exits 2" [ "$code" -eq 2 ]
  check "... as an input" stderr_has "is also an input of the build"
done
check "... and no input nor output changed" diff -r "$work/before" "$proj"
rm -rf "$proj" && cp -a "$work/before" "$proj"

# --- a failed rebuild keeps the previous packages, and leaves nothing of its own
ls_out() { ls -A "$proj/out" | tr '\n' ' '; }
write_project "" '<build output="out/setup"><plugin id="ui"><file src="ui/gone.dll"/></plugin></build>'
kb "$(file_arg "$proj/project.xml")"
check "a rebuild that fails exits 2" [ "$code" -eq 2 ]
check "... keeps the previous main package" cmp -s "$proj/out/setup" "$work/before/out/setup"
check "... and further package" cmp -s "$proj/out/extras.kxp" "$work/before/out/extras.kxp"
check "... and leaves no file of its own" lists_same "$(ls_out)" "extras.kxp setup "
# Killed while it writes a large package: the previous one stays whole.
write_project "" "$good_build"
head -c 100000000 /dev/urandom >"$proj/payload/core/big.log"
"${kxbuild_command[@]}" "$(file_arg "$proj/project.xml")" >/dev/null 2>&1 &
builder=$!
for _ in $(seq 600); do
  [ "$(ls_out)" != "extras.kxp setup " ] || ! cmp -s "$proj/out/setup" "$work/before/out/setup" &&
    break
  sleep 0.05
done
sleep 0.2
kill -9 "$builder" 2>/dev/null
wait "$builder" 2>/dev/null
check "a build killed while writing keeps the previous main package" \
  cmp -s "$proj/out/setup" "$work/before/out/setup"
check "... and further package" cmp -s "$proj/out/extras.kxp" "$work/before/out/extras.kxp"
cp "$work/before/payload/core/big.log" "$proj/payload/core/big.log"
kb "$(file_arg "$proj/project.xml")"
check "the next build succeeds" [ "$code" -eq 0 ]
check "... and takes the killed build's leftovers away" lists_same "$(ls_out)" "extras.kxp setup "
rm -f "$proj/engine" "$proj/engine-link"

# --- special files and links in the payload
mkfifo "$proj/payload/core/bin/pipe.dll"
kb "$(file_arg "$proj/project.xml")"
check "a FIFO in the payload exits 2" [ "$code" -eq 2 ]
check "... said" stderr_has 'pipe.dll is no regular file'
rm "$proj/payload/core/bin/pipe.dll"
printf 'device' >"$proj/payload/core/bin/com1.dll"
kb "$(file_arg "$proj/project.xml")"
check "a payload file named like a Windows device exits 2" [ "$code" -eq 2 ]
check "... said" stderr_has 'com1.dll has a name Windows keeps for a device'
rm "$proj/payload/core/bin/com1.dll"
mkdir -p "$work/elsewhere/lib"
printf 'outside' >"$work/elsewhere/lib/far.dll"
ln -s ../readme.txt "$proj/payload/core/bin/near.dll"
ln -s "$work/elsewhere/lib/far.dll" "$proj/payload/core/bin/far.dll"
ln -s "$work/elsewhere/lib" "$proj/payload/core/bin/lib"
kb "$(file_arg "$proj/project.xml")"
check "links out of the payload folder exit 2" [ "$code" -eq 2 ]
check "... naming the link and the option" stderr_has 'far.dll leads outside the payload folder'
check "... and the option" stderr_has 'give --follow-links'
rm "$proj/payload/core/bin/far.dll"
kb "$(file_arg "$proj/project.xml")"
check "a folder link out of the payload folder is refused too" stderr_has 'lib leads outside'
kb "$(file_arg "$proj/project.xml")" --follow-links
check "--follow-links packs what the links lead to" [ "$code" -eq 0 ]
check "... a folder's files" grep -q 'data/core/bin/lib/far.dll' <<<"$(cab_names "$main")"
check "... a link inside the payload folder without the option" \
  grep -q 'data/core/bin/near.dll' <<<"$(cab_names "$main")"
ln -s .. "$proj/payload/core/bin/loop"
kb "$(file_arg "$proj/project.xml")" --follow-links
check "a link to a folder that holds it exits 2" [ "$code" -eq 2 ]
check "... said" stderr_has 'loop leads back into a folder that holds it'
rm "$proj/payload/core/bin/loop" "$proj/payload/core/bin/lib" "$proj/payload/core/bin/near.dll"

# --- usage
kb
check "no project is a usage error" [ "$code" -eq 2 ]
check "usage is shown" stderr_has "usage: kxbuild PROJECT.xml"
kb "$(file_arg "$proj/project.xml")" --bogus
check "an unknown option is a usage error" [ "$code" -eq 2 ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
