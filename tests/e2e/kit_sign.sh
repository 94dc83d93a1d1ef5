#!/usr/bin/env bash
# The kit for Windows: the host build's kit, installed into a fresh prefix with the Windows
# build's programs, builds the demo for win64 from a folder outside the source tree and signs it
# with osslsigncode through --sign; the signature verifies and the signed setup installs under
# Wine.
#   kit_sign.sh HOST_BUILD DEMO_DIR WORKDIR      ($WINEPREFIX must be initialised)
set -u
host_build=$1 demo=$2 work=$3
mode=wine
rm -rf "$work" && mkdir -p "$work"
source "$(dirname "$0")/checks.sh"
source "$(dirname "$0")/machine.sh"

if [ ! -x "$host_build/bin/kxbuild" ]; then
  echo "FAILED: the kit is installed from the host build, which is not built at $host_build"
  exit 1
fi
prefix=$work/kit
cmake --install "$host_build" --prefix "$prefix" >"$work/install.log" 2>&1
check "cmake --install installs the kit" [ $? -eq 0 ]
stub=$prefix/lib/kxsetup/win64/kxsetup-win64.exe
check "the kit holds the win64 stub" [ -s "$stub" ]
check "the kit's win64 stub has no symbols" \
  bash -c "x86_64-w64-mingw32-nm '$stub' 2>&1 | grep -q 'no symbols'"

openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Demo Vendor" -days 30 \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
vendor=$work/vendor
cp -r "$demo" "$vendor"
cd "$vendor" || exit 1
# osslsigncode writes another file; the signed one takes the package's place.
sign="osslsigncode sign -certs '$work/cert.pem' -key '$work/key.pem' -n 'Demo Product'"
sign+=" -in {} -out {}.signed && mv {}.signed {}"
"$prefix/bin/kxbuild" demo.xml --target win64 -o DemoSetup.exe --sign "$sign" \
  >"$work/kxbuild.log" 2>&1
check "the kit builds and signs the win64 demo" [ $? -eq 0 ]
sed 's/^/    /' "$work/kxbuild.log"
check "osslsigncode verifies the signature" \
  osslsigncode verify -CAfile "$work/cert.pem" -in DemoSetup.exe
install_dir="$program_files/Demo Product"
rm -rf "$install_dir"
out=$(wine DemoSetup.exe /s 2>&1)
code=$?
echo "$out" | sed 's/^/    /'
check "the signed setup installs under Wine: exit 0" [ "$code" -eq 0 ]
check "the signed setup installs the demo's files" \
  cmp "$vendor/payload/app/readme.txt" "$install_dir/readme.txt"
finish
