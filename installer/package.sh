#!/usr/bin/env bash
# Makes every package of one version from the builds of the program:
#   package.sh VERSION X64_EXE X86_EXE X64_UIACCESS_EXE X86_UIACCESS_EXE OUT_DIR
# into OUT_DIR:
#   barcode-reader-VERSION-setup.exe     NSIS, for 32- and 64-bit Windows
#   barcode-reader-VERSION-x64.msi       Windows Installer, 64-bit Windows
#   barcode-reader-VERSION-x86.msi       Windows Installer, 32-bit Windows
#   barcode-reader-VERSION-portable.zip  x64/ and x86/barcode_reader.exe, PolicyDefinitions/
# Every package carries the group policy templates (policy/) as a
# PolicyDefinitions folder, laid out as Windows keeps them.
# Each program, installer, uninstaller and MSI is signed on the way when
# SIGN_PFX is set (see sign.sh). Signed, the installer and the MSIs also carry
# the uiAccess builds, installed only when asked for (UIACCESS=1): Windows
# starts a uiAccess program only when it is signed, so an unsigned package
# has none. The portable zip never has them: it is run from anywhere, and a
# uiAccess program starts only from Program Files. CMake runs it; so does the
# signing test.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 6 ]] || { echo "usage: $0 VERSION X64_EXE X86_EXE X64_UIACCESS_EXE X86_UIACCESS_EXE OUT_DIR" >&2; exit 2; }
version=$1 out=$6
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/package-$version"
rm -rf "$stage"
mkdir -p "$stage/x64" "$stage/x86"
cp "$2" "$stage/x64/barcode_reader.exe"
cp "$3" "$stage/x86/barcode_reader.exe"
"$here/sign.sh" "$stage/x64/barcode_reader.exe"
"$here/sign.sh" "$stage/x86/barcode_reader.exe"
nsis_uiaccess=()
if [[ -n ${SIGN_PFX:-} ]]; then
  mkdir -p "$stage/x64/uiaccess" "$stage/x86/uiaccess"
  cp "$4" "$stage/x64/uiaccess/barcode_reader.exe"
  cp "$5" "$stage/x86/uiaccess/barcode_reader.exe"
  "$here/sign.sh" "$stage/x64/uiaccess/barcode_reader.exe"
  "$here/sign.sh" "$stage/x86/uiaccess/barcode_reader.exe"
  nsis_uiaccess=(-DUIACCESS_PROGRAM64="$stage/x64/uiaccess/barcode_reader.exe"
    -DUIACCESS_PROGRAM32="$stage/x86/uiaccess/barcode_reader.exe")
fi
cp "$here/../app/resources/program.ico" "$stage/"
cp -r "$here/policy" "$stage/PolicyDefinitions"

name="$out/barcode-reader-$version"
rm -f "$name-portable.zip"
(cd "$stage" && cmake -E tar cf "$name-portable.zip" --format=zip x64/barcode_reader.exe x86/barcode_reader.exe \
  PolicyDefinitions)

# makensis runs sign.sh on the installer and on the uninstaller it embeds.
makensis -V2 -DVERSION="$version" -DPROGRAM64="$stage/x64/barcode_reader.exe" \
  -DPROGRAM32="$stage/x86/barcode_reader.exe" -DPOLICY="$stage/PolicyDefinitions" "${nsis_uiaccess[@]}" \
  -DSIGN_COMMAND="$here/sign.sh" -DOUTFILE="$name-setup.exe" "$here/barcode_reader.nsi"

# wixl 0.101 writes its database in no code page and drops every text that
# is not Latin, writes an expandable registry value as a plain string and
# stops at a component's condition: the Russian texts of the .wxs go in
# afterwards, in 1251, and so do the mark of an expandable value and the
# components' conditions, which wixl is given the .wxs without.
printf '\r\n\r\n1251\t_ForceCodepage\r\n' >"$stage/_ForceCodepage.idt"
what_wixl_drops_sql() {
  python3 - "$here/barcode_reader.wxs" <<'PY'
import sys
import xml.etree.ElementTree as ET

wix = "{http://schemas.microsoft.com/wix/2006/wi}"
product = ET.parse(sys.argv[1]).getroot().find(wix + "Product")


def update(table, column, value, key, key_value):
    print(f"UPDATE `{table}` SET `{column}` = '{value}' WHERE `{key}` = '{key_value}'")


update("Property", "Value", product.get("Name"), "Property", "ProductName")
for shortcut in product.iter(wix + "Shortcut"):
    update("Shortcut", "Name", shortcut.get("Name"), "Shortcut", shortcut.get("Id"))
for feature in product.iter(wix + "Feature"):
    update("Feature", "Title", feature.get("Title"), "Feature", feature.get("Id"))
for condition in product.findall(wix + "Condition"):
    update("LaunchCondition", "Description", condition.get("Message"), "Condition", condition.text.strip())
upgrade = product.find(wix + "MajorUpgrade")
update("LaunchCondition", "Description", upgrade.get("DowngradeErrorMessage"), "Condition", "NOT WIX_DOWNGRADE_DETECTED")
for component in product.iter(wix + "Component"):
    condition = component.find(wix + "Condition")
    if condition is not None:
        update("Component", "Condition", condition.text.strip(), "Component", component.get("Id"))
for value in product.iter(wix + "RegistryValue"):
    if value.get("Type") == "expandable":
        update("Registry", "Value", "#%" + value.get("Value"), "Name", value.get("Name"))
PY
}

# A component's condition is the one Condition element without attributes.
python3 -c 'import re, sys; wxs = open(sys.argv[1], encoding="utf-8").read(); \
open(sys.argv[2], "w", encoding="utf-8").write(re.sub(r"\n\s*<Condition>.*?</Condition>", "", wxs, flags=re.S))' \
  "$here/barcode_reader.wxs" "$stage/barcode_reader.wxs"

# The fourth field of the version, which Windows Installer does not compare.
IFS=. read -r _ _ _ revision <<<"$version"

for arch in x64 x86; do
  msi="$name-$arch.msi"
  uiaccess=()
  [[ -e $stage/$arch/uiaccess/barcode_reader.exe ]] && uiaccess=(-D UiAccessProgram="$arch/uiaccess/barcode_reader.exe")
  # wixl finds sources only by paths relative to where it runs.
  (cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D Revision="${revision:-0}" \
    -D Program="$arch/barcode_reader.exe" "${uiaccess[@]}" -D Icon=program.ico -D Policy=PolicyDefinitions \
    -o "$msi" barcode_reader.wxs 2>wixl.log) ||
    { cat "$stage/wixl.log" >&2; exit 1; }
  # Windows Installer compares three parts of a version, and wixl has no
  # AllowSameVersionUpgrades: a release that changes only the fourth part
  # would be installed beside the one before. This row replaces it, keeping
  # its features (AutoStart) as they were.
  property() { msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' -v name="$1" '$1 == name { print $2 }'; }
  upgrade_code=$(property UpgradeCode)
  secure=$(property SecureCustomProperties)
  msibuild "$msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Language\`, \
\`Attributes\`, \`Remove\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$version', '$version', '', 769, '', \
'SAMEVERSIONUPGRADE')" \
    -q "UPDATE \`Property\` SET \`Value\` = '$secure;SAMEVERSIONUPGRADE' WHERE \`Property\` = 'SecureCustomProperties'"
  msibuild "$msi" -i "$stage/_ForceCodepage.idt"
  mapfile -t texts < <(what_wixl_drops_sql)
  for query in "${texts[@]}"; do msibuild "$msi" -q "$query"; done
  "$here/sign.sh" "$msi"
done
rm -rf "$stage"
