#!/usr/bin/env bash
# Installs a project with two shortcuts silently (the autopilot plug-in answers for the user) and
# reads the links back: on the host with lnkinfo, under Wine through the system's shell-link
# object (READER, LinkReader.c) and lnkinfo on the links Wine wrote; then their records in the
# install log.
#   shortcuts.sh host|wine ENGINE KXBUILD KXTOOL DEMO_DIR WORKDIR [READER]
set -u
mode=$1 engine=$2 kxbuild=$3 kxtool=$4 demo=$5 work=$6 reader=${7:-}
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"
install_dir="$program_files/Link Product"
rm -rf "$install_dir"

# The demo, renamed so that it meets no other test's install, with two shortcuts in place of its
# own: one with every field set, one with quoted paths, arguments and no description.
project="$work/project"
cp -r "$demo" "$project"
sed -i -e 's|Demo Product|Link Product|g' -e 's|KxDemo|KxLinks|' "$project/demo.xml"
# 850: Ctrl+Shift+R (modifiers 3 in the high byte, the key's code 0x52 in the low one).
perl -0pi -e 's|<shortcuts>.*?</shortcuts>|<shortcuts>
  <shortcut name="%ProgramsMenu%\\Link Product\\Read me" cmdline="%InstallPath%\\readme.txt"
            workdir="%InstallPath%" iconfile="%InstallPath%\\bin\\demo.dat" icon="1"
            showcmd="max" hotkey="850" description="The read-me of the demonstration"/>
  <shortcut name="%Desktop%\\Link Tool" cmdline="&#x22;%InstallPath%\\bin\\helper.dat&#x22;"
            arg="/x &#x22;two words&#x22;" workdir="&#x22;%InstallPath%\\bin&#x22;"
            showcmd="min"/>
</shortcuts>|s' "$project/demo.xml"
build_package "$project/demo.xml" "$work/built" LinkSetup
check "kxbuild builds the package" [ -f "$setup" ]

export KX_AUTOPILOT_TRACE
KX_AUTOPILOT_TRACE=$(windows_name "$work/trace.jsonl")
run_setup "$setup" /s
check "the project installs silently: exit 0" [ "$code" -eq 0 ]
check "no shortcut is reported as skipped or failed" \
  bash -c '! grep -qiE "cannot install shortcuts|Error creating shortcut" <<<"$1"' _ "$out"

# The links, as the install log lists them.
links=$(kx ini "$(windows_name "$install_dir/install.log")" values Shortcuts | sed '$d' |
  sed 's/=$//')
echo "$links" | sed 's/^/    log: /'
readme_link=$(echo "$links" | grep -i 'Link Product\\Read me.lnk$')
tool_link=$(echo "$links" | grep -i '\\Link Tool.lnk$')
check "the install log lists both shortcuts, and nothing else there" \
  [ -n "$readme_link" -a -n "$tool_link" -a "$(echo "$links" | wc -l)" -eq 2 ]
readme_file=$(unix_name "$readme_link")
tool_file=$(unix_name "$tool_link")
check "both link files exist" [ -f "$readme_file" -a -f "$tool_file" ]

install_win='C:\Program Files\Link Product'

# The header fields lnkinfo 20181227 misreads (it shows the file size for both), read at their
# documented places: show command at 0x3C, hot key at 0x40.
header_word() { local word; word=$(od -An -tu4 -j "$2" -N4 "$1" 2>/dev/null | tr -d ' '); echo "${word:-0}"; }
check "the first link opens maximized (3)" [ "$(header_word "$readme_file" 60)" = 3 ]
check "the first link's hot key is 850" [ "$(( $(header_word "$readme_file" 64) & 0xFFFF ))" = 850 ]
check "the second link opens minimized without activation (7)" \
  [ "$(header_word "$tool_file" 60)" = 7 ]

# lnkinfo's "name : value" line.
lnk_field() { lnkinfo "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^\t$2[ \t]*: //p"; }
expect_field() {  # link, field, value
  local got
  got=$(lnk_field "$1" "$2")
  check "lnkinfo $(basename "$1"): $2 is '$3'" [ "$got" = "$3" ]
}
if command -v lnkinfo >/dev/null; then
  for link in "$readme_file" "$tool_file"; do
    echo "--- lnkinfo $(basename "$link")"
    lnkinfo "$link" 2>&1 | sed 's/^/    /'
  done
  expect_field "$readme_file" "Local path" "$install_win\\readme.txt"
  expect_field "$readme_file" "Description" "The read-me of the demonstration"
  expect_field "$readme_file" "Working directory" "$install_win"
  expect_field "$readme_file" "Icon location" "$install_win\\bin\\demo.dat"
  expect_field "$readme_file" "Icon index" "1"
  expect_field "$tool_file" "Local path" "$install_win\\bin\\helper.dat"
  expect_field "$tool_file" "Command line arguments" '/x "two words"'
  expect_field "$tool_file" "Working directory" "$install_win\\bin"
  check "lnkinfo: the second link has no description" \
    [ -z "$(lnk_field "$tool_file" Description)" ]
else
  check "lnkinfo is installed (scripts/install-deps.sh)" false
fi

if [ "$mode" = wine ]; then
  read_link() { run "$reader" "$1" 2>/dev/null | tr -d '\r'; }
  readme=$(read_link "$readme_link")
  tool=$(read_link "$tool_link")
  echo "$readme" | sed 's/^/    reader: /'
  echo "$tool" | sed 's/^/    reader: /'
  has() { grep -qxF -- "$2" <<<"$1"; }
  # Wine's shell link (8.0) gives back the normal show command for every link it loads, whatever
  # the file holds; the show commands are checked in the links' headers above.
  check "shell link: first target" has "$readme" "target=$install_win\\readme.txt"
  check "shell link: first working folder" has "$readme" "workdir=$install_win"
  check "shell link: first description" has "$readme" \
    "description=The read-me of the demonstration"
  check "shell link: first icon" has "$readme" "icon=$install_win\\bin\\demo.dat,1"
  check "shell link: first hot key" has "$readme" "hotkey=850"
  check "shell link: second target, unquoted" has "$tool" "target=$install_win\\bin\\helper.dat"
  check "shell link: second arguments keep their quotes" has "$tool" 'arguments=/x "two words"'
  check "shell link: second working folder, unquoted" has "$tool" "workdir=$install_win\\bin"
  check "shell link: second has no description" has "$tool" "description="
fi

finish
