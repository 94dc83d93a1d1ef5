#!/usr/bin/env bash
# Fails unless each plug-in library exports exactly one entry, "GetPluginInfo", undecorated: the
# engine looks it up by that name, and on 32-bit Windows a __stdcall export is otherwise written
# "_GetPluginInfo@4". On Linux nothing else may be exported either, or the plug-in's symbols could
# take the place of the engine's.
#   check_exports.sh pe OBJDUMP LIBRARY...   |   check_exports.sh elf NM LIBRARY...
set -u
kind=$1 tool=$2
shift 2
status=0
for library in "$@"; do
  if [ "$kind" = pe ]; then
    exports=$("$tool" -p "$library" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      sed -n 's/^\s*\[ *[0-9]*\] //p')
  else
    exports=$("$tool" -D --defined-only "$library" | awk '{print $3}')
  fi
  if [ "$(echo $exports)" != GetPluginInfo ]; then
    echo "FAIL $library exports: $(echo $exports)"
    status=1
  else
    echo "$(basename "$library") exports: GetPluginInfo"
  fi
done
exit $status
