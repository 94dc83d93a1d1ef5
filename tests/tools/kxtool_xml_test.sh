#!/usr/bin/env bash
# Drives `kxtool xml` as a user would and checks the bytes it writes, its messages and exit codes.
#   kxtool_xml_test.sh KXTOOL WORKDIR
# A KXTOOL ending in ".exe" is run under Wine ($WINEPREFIX must be initialised), with Windows
# paths; otherwise natively, with a machine root of its own under WORKDIR. Standard output is
# compared byte for byte on both: the verb writes raw bytes with CR LF line ends.
source "$(dirname "$0")/kxtool_lib.sh" "$@"

xml="$work/test.xml"
f=$(file_arg "$xml")

# --- a document read and written back
make_file "$xml" '<?xml version="1.0"?>\n<!-- before -->\n<DB Version="3" Name='"'"'say "hi"'"'"'>\n  <!-- kept -->\n  <Item ID="a&#x26;b" Path="C:\\x" Extra="&#x01;&#x7F;&#xC0;&#xE9;"/>\n  <Group>\n  </Group>\n  <Note>  some   text\tdata &amp; more </Note>\n</db>\ntrailing <ignored/>\n'
kx xml "$f"
check "a document exits 0" [ "$code" -eq 0 ]
check "a document is written back as the engine saves it" output_is \
  '<db Version="3" Name='"'"'say "hi"'"'"'>\r\n<!-- kept -->\r\n\t<item ID="a&#x26;b" Path="C:\\x" Extra="&#x7F;\300\351"/>\r\n\t<group>\r\n\t</group>\r\n\t<note>\r\nsome text data &amp; more\r\n\t</note>\r\n</db>\r\n'
check "nothing on stderr" [ -z "$err" ]

# --- the settings the options switch on
make_file "$xml" '<a v="x  y\r\nz">\n  t1   t2 \n<!-- c --></a>\n'
kx xml "$f"
check "defaults: runs of spaces become one" output_is \
  '<a v="x y z">\r\nt1 t2\r\n<!-- c -->\r\n</a>\r\n'
kx xml --keep-value-spaces "$f"
check "--keep-value-spaces" output_is '<a v="x  y  z">\r\nt1 t2\r\n<!-- c -->\r\n</a>\r\n'
kx xml --keep-text-spaces "$f"
check "--keep-text-spaces" output_is '<a v="x y z">\r\nt1   t2\r\n<!-- c -->\r\n</a>\r\n'
kx xml --skip-text "$f"
check "--skip-text" output_is '<a v="x y z">\r\n<!-- c -->\r\n</a>\r\n'
kx xml --skip-comments --skip-text "$f"
check "--skip-comments with --skip-text: no children" output_is '<a v="x y z"/>\r\n'

make_file "$xml" '<settings mode=silent path=C:\\dir\\ flag="1"/>'
kx xml "$f"
check "unquoted values are a fault by default" [ "$code" -eq 2 ]
kx xml --allow-unquoted "$f"
check "--allow-unquoted" output_is '<settings mode="silent" path="C:\\dir\\" flag="1"/>\r\n'

# --- faults: the message with its position, nothing on stdout
make_file "$xml" '<root>\n\r\n\r\r<a></b>\n</root>\n'
kx xml "$f"
check "a fault exits 2" [ "$code" -eq 2 ]
check "a fault writes nothing to stdout" output_empty
check "a fault's message and position" \
  stderr_is 'End tag "b" does not match the start tag "a". Line 3, position 6.'

make_file "$xml" '<!DOCTYPE root>\n<root/>'
kx xml "$f"
check "a document type declaration is a syntax error" \
  stderr_is 'Syntax error. Line 1, position 2.'
make_file "$xml" '<root>\n<!-- a -- b -->\n</root>'
kx xml "$f"
check "two hyphens inside a comment" \
  stderr_is 'Right angle bracket (">") expected. Line 2, position 10.'
make_file "$xml" '</root><root/>'
kx xml "$f"
check "an end tag before any start tag exits 2" [ "$code" -eq 2 ]
check "an end tag before any start tag is named" stderr_has 'End tag "root"'

# --- no root: nothing written, success
make_file "$xml" 'no tags here\r\n'
kx xml "$f"
check "a text without tags exits 0" [ "$code" -eq 0 ]
check "a text without tags writes nothing" output_empty
: >"$xml"
kx xml "$f"
check "an empty file writes nothing" output_empty

# --- usage
kx xml "$(file_arg "$work/missing.xml")"
check "a missing file exits 2" [ "$code" -eq 2 ]
check "a missing file is reported" stderr_has "Cannot read file"
kx xml --frobnicate "$f"
check "an unknown option exits 2" [ "$code" -eq 2 ]
kx xml
check "no file exits 2" [ "$code" -eq 2 ]
kx xml "$f" "$f"
check "two files exit 2" [ "$code" -eq 2 ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
