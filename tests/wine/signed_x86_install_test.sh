#!/usr/bin/env bash
# A release signed with the organisation's certificate, installed on 32-bit
# Windows:
#   signed_x86_install_test.sh VERSION X64_EXE X86_EXE X64_UIACCESS_EXE X86_UIACCESS_EXE WORK_DIR
# makes a throwaway code-signing certificate, builds every package with it,
# checks every signature (both programs, the installer, the uninstaller it
# carries, both MSIs), then installs the NSIS installer and the x86 MSI
# silently in a 32-bit Wine prefix, with and without the uiAccess build, and
# removes them again. Wine gives every process the same integrity level and
# ignores uiAccess: what is checked is which build is installed, not that it
# reaches a program run as administrator.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 6 ]] || { echo "usage: $0 VERSION X64_EXE X86_EXE X64_UIACCESS_EXE X86_UIACCESS_EXE WORK_DIR" >&2; exit 2; }
version=$1 work=$6
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
  "$here/../../installer/package.sh" "$version" "${@:2:4}" "$work/packages" >/dev/null

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

# What the program's manifest asks of Windows: uiAccess="true" or "false".
ui_access() { grep -ao 'uiAccess="[a-z]*"' "$1" | cut -d'"' -f2; }
program="$folder/barcode_reader.exe"

run "$name-setup.exe" /S /AUTOSTART
[[ ! -e $work/exit ]] || fail "the installer ended with $(cat "$work/exit")"
[[ $(ui_access "$program") == false ]] || fail "uiAccess installed unasked"
# Asked for, outside Program Files: refused, as Windows would not start it.
run "$name-setup.exe" /S /UIACCESS=1 '/D=C:\Tools'
[[ $(cat "$work/exit" 2>/dev/null) == "exit code 4" && ! -e $WINEPREFIX/drive_c/Tools ]] ||
  fail "uiAccess outside Program Files: $(cat "$work/exit" 2>/dev/null)"
rm -f "$work/exit"
run "$name-setup.exe" /S /UIACCESS=1
[[ $(ui_access "$program") == true ]] || fail "no uiAccess build with /UIACCESS=1"
run "$name-setup.exe" /S
[[ $(ui_access "$program") == true ]] || fail "an upgrade dropped the uiAccess build"
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

# The x86 MSI: UIACCESS=1 installs the uiAccess build, under Program Files
# only; the same package rebuilt (a product code of its own) upgrades it and
# keeps it.
msi() { wine msiexec "$@" /qn >>"$work/wine.log" 2>&1 || echo "exit code $?" >"$work/exit"; wineserver -w; }
msi /i "$name-x86.msi" UIACCESS=1 'INSTALLDIR=C:\Tools\'
# Wine's exit status keeps the low byte of msiexec's code.
[[ $(cat "$work/exit" 2>/dev/null) == "exit code $((1603 % 256))" ]] || fail "MSI uiAccess outside Program Files"
rm -f "$work/exit"
msi /i "$name-x86.msi" UIACCESS=1
[[ $(ui_access "$program") == true ]] || fail "no uiAccess build with the MSI's UIACCESS=1"
cp "$name-x86.msi" "$work/rebuilt.msi"
msibuild "$work/rebuilt.msi" -q "UPDATE Property SET Value = '{0F8A5B3C-2D71-4E9A-B6C4-5A1E7D3F9B20}' WHERE Property = 'ProductCode'"
msi /i "$work/rebuilt.msi"
[[ $(ui_access "$program") == true ]] || fail "an MSI upgrade dropped the uiAccess build"
msi /x "$work/rebuilt.msi"
[[ ! -e $work/exit && ! -e $folder ]] || fail "the MSI was not removed: $(cat "$work/exit" 2>/dev/null)"

((failures == 0)) && echo "signed packages verified; installed and removed on 32-bit Windows"
exit $((failures > 0))
