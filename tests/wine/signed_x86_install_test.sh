#!/usr/bin/env bash
# A release signed with the organisation's certificate, installed on 32-bit
# Windows:
#   signed_x86_install_test.sh VERSION X64_EXE X86_EXE WORK_DIR
# makes a throwaway code-signing certificate, builds every package with it,
# checks every signature (both programs, the installer, the uninstaller it
# carries, both MSIs), then installs the NSIS installer silently in a 32-bit
# Wine prefix and removes it again.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 4 ]] || { echo "usage: $0 VERSION X64_EXE X86_EXE WORK_DIR" >&2; exit 2; }
version=$1 work=$4
rm -rf "$work"
mkdir -p "$work/cert" "$work/unpacked"
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Barcode Reader test signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/cert/key.pem" -out "$work/cert/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/cert/key.pem" -in "$work/cert/cert.pem" -passout pass:throwaway \
  -out "$work/cert/sign.pfx"
SIGN_PFX="$work/cert/sign.pfx" SIGN_PASSWORD=throwaway \
  "$here/../../installer/package.sh" "$version" "$2" "$3" "$work/packages" >/dev/null

name="$work/packages/barcode-reader-$version"
verify() {
  if ! osslsigncode verify -CAfile "$work/cert/cert.pem" -in "$1" 2>&1 | grep -q "^Signature verification: ok"; then
    fail "no valid signature on $1"
  fi
}
(cd "$work/unpacked" && cmake -E tar xf "$name-portable.zip")
for file in "$work/unpacked/x64/barcode_reader.exe" "$work/unpacked/x86/barcode_reader.exe" \
  "$name-setup.exe" "$name-x64.msi" "$name-x86.msi"; do
  verify "$file"
done

# Every upgrade row carries the features over (AutoStart stays with a plain
# upgrade) or only detects. Wine's msiexec does not migrate features, so
# the package is where this shows.
for arch in x64 x86; do
  for attributes in $(msiinfo export "$name-$arch.msi" Upgrade | tr -d '\r' | tail -n +4 | cut -f5); do
    (((attributes & 1) || (attributes & 2))) || fail "an upgrade of the $arch MSI would drop AutoStart"
  done
done

# 32-bit Windows: a prefix of its own, in the session's display.
export WINEPREFIX="$work/prefix32" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=$(cat "$WEDGE_RUN_DIR/display")
export DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine wineboot -i >"$work/wine.log" 2>&1
# Waits for every process of the prefix: the uninstaller hands over to a
# copy of itself and returns at once.
run() { wine "$@" >>"$work/wine.log" 2>&1 || echo "exit code $?" >"$work/exit"; wineserver -w; }
folder="$WINEPREFIX/drive_c/Program Files/Barcode Reader"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\BarcodeReader'

run "$name-setup.exe" /S /AUTOSTART
[[ ! -e $work/exit ]] || fail "the installer ended with $(cat "$work/exit")"
# The machine field of the PE header: 0x014c is the 32-bit program.
machine() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); \
print(hex(struct.unpack_from("<H", d, struct.unpack_from("<I", d, 0x3c)[0] + 4)[0]))' "$1"; }
[[ -f $folder/barcode_reader.exe && $(machine "$folder/barcode_reader.exe") == 0x14c ]] ||
  fail "the 32-bit program is not in $folder"
verify "$folder/barcode_reader.exe"
verify "$folder/uninstall.exe"
wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | grep -q "$version" ||
  fail "no Apps & Features entry of version $version"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v "Barcode Reader" 2>/dev/null |
  grep -qF '"C:\Program Files\Barcode Reader\barcode_reader.exe"' || fail "no start with Windows"

run "C:\\Program Files\\Barcode Reader\\uninstall.exe" /S
[[ ! -e $work/exit ]] || fail "the uninstaller ended with $(cat "$work/exit")"
[[ ! -e $folder ]] || fail "the uninstaller left $folder"
if wine reg query "$uninstall_key" >/dev/null 2>&1; then fail "the Apps & Features entry stayed"; fi

((failures == 0)) && echo "signed packages verified; installed and removed on 32-bit Windows"
exit $((failures > 0))
