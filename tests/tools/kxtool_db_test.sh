#!/usr/bin/env bash
# Drives `kxtool db` as a vendor would and checks its output bytes, exit codes and messages.
#   kxtool_db_test.sh KXTOOL WORKDIR
# A KXTOOL ending in ".exe" is run under Wine ($WINEPREFIX must be initialised), with Windows
# paths; otherwise natively, with a machine root of its own under WORKDIR.
source "$(dirname "$0")/kxtool_lib.sh" "$@"
fixtures=$(cd "$(dirname "$0")/../database/fixtures" && pwd)

# --- a project with every element and attribute of the schema comes back byte for byte
kx db "$(file_arg "$fixtures/full_project.xml")"
check "full project exits 0" [ "$code" -eq 0 ]
check "full project is written back identically" cmp -s "$work/stdout" "$fixtures/full_project.xml"
check "full project writes nothing on stderr" [ -z "$err" ]

# --- unknown attributes and elements dropped, defaults left out, attributes in binding order
f="$work/loose.xml"
make_file "$f" '<KX2Project zzz="1" Version="3" rebootonfinish="0" installstate="isUnknown">
<components><component id="a" package=""><files><file src="x" flags="shared, dont_log"/>
<dir/></files><registry/></component></components><unknown a="1"/>
<variables><var name="A" type="INI"/><var name="a" value="2" type="ini"/></variables>
</KX2Project>'
kx db "$(file_arg "$f")"
check "loose project exits 0" [ "$code" -eq 0 ]
check "loose project is normalised" output_is '<kx2project version="3">\r
\t<components>\r
\t\t<component id="a" name="a">\r
\t\t\t<files>\r
\t\t\t\t<file flags="dont_log,shared" src="x"/>\r
\t\t\t</files>\r
\t\t</component>\r
\t</components>\r
\t<variables>\r
\t\t<var name="a" value="2" type="ini"/>\r
\t</variables>\r
</kx2project>\r
'

# --- the root's name is not checked, and is written back as read
f="$work/other.xml"
make_file "$f" '<db version="1"/>'
kx db "$(file_arg "$f")"
check "any root name is accepted" [ "$code" -eq 0 ]
check "the root keeps its name" output_is '<db version="1"/>\r\n'

# --- silent settings
f="$work/silent.sss"
make_file "$f" '<silentsettings activeinstalltype="typical" version="9">
<features><feature id="docs" required="1"/></features>
<variables><var name="INSTALLDIR" value="D:\\App"/></variables></silentsettings>'
kx db --root silentsettings "$(file_arg "$f")"
check "silent settings exit 0" [ "$code" -eq 0 ]
check "silent settings keep only their own parts" output_is '<silentsettings activeinstalltype="typical">\r
\t<features>\r
\t\t<feature id="docs" required="1"/>\r
\t</features>\r
\t<variables>\r
\t\t<var name="INSTALLDIR" value="D:\\App"/>\r
\t</variables>\r
</silentsettings>\r
'
kx db "$(file_arg "$f")"
check "silent settings read as a project keep the project's version" \
  output_is '<silentsettings activeinstalltype="typical" version="9">\r
\t<features>\r
\t\t<feature id="docs" required="1"/>\r
\t</features>\r
\t<variables>\r
\t\t<var name="INSTALLDIR" value="D:\\App"/>\r
\t</variables>\r
</silentsettings>\r
'

# --- failures: message on stderr, nothing on stdout, exit 2
f="$work/broken.xml"
make_file "$f" '<kx2project><components></kx2project>'
kx db "$(file_arg "$f")"
check "a parse fault exits 2" [ "$code" -eq 2 ]
check "a parse fault writes nothing on stdout" output_empty
check "a parse fault names its position" stderr_has "Line "

# Read as the engine reads a database: runs of spaces in values kept, a cut-off text refused.
f="$work/spaces.xml"
make_file "$f" '<kx2project><variables><var name="A" value="Hello  World"/></variables></kx2project>'
kx db "$(file_arg "$f")"
check "a value keeps its two spaces" grep -qF 'value="Hello  World"' "$work/stdout"
make_file "$f" '<kx2project><variables><var name="A" value="1"/>'
kx db "$(file_arg "$f")"
check "a cut-off file exits 2" [ "$code" -eq 2 ]
check "... naming the element not closed" \
  stderr_has 'the element "variables" is not closed. Line 1, position 49.'
check "... writing nothing on stdout" output_empty

kx db "$(file_arg "$work/missing.xml")"
check "a missing file exits 2" [ "$code" -eq 2 ]
check "a missing file is named" stderr_has "missing.xml"
check "a missing file writes nothing on stdout" output_empty

f="$work/deep.xml"
{ printf '<kx2project><features>'
  for _ in $(seq 400); do printf '<feature><features>'; done
  for _ in $(seq 400); do printf '</features></feature>'; done
  printf '</features></kx2project>'; } >"$f"
kx db "$(file_arg "$f")"
check "hostile nesting exits 2" [ "$code" -eq 2 ]
check "hostile nesting says why" stderr_has "nested deeper"
check "hostile nesting writes nothing on stdout" output_empty

f="$work/empty.xml"
make_file "$f" ''
kx db "$(file_arg "$f")"
check "an empty file exits 2" [ "$code" -eq 2 ]
check "an empty file writes nothing on stdout" output_empty

kx db
check "no file is a usage error" [ "$code" -eq 2 ]
kx db --root installactions "$(file_arg "$fixtures/full_project.xml")"
check "an unknown root class is a usage error" [ "$code" -eq 2 ]
check "an unknown root class is named" stderr_has "installactions"
kx db --root
check "--root without a name is a usage error" [ "$code" -eq 2 ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
