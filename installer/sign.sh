#!/usr/bin/env bash
# Signs one Windows file (exe, installer, uninstaller, MSI) in place with
# the organisation's code-signing certificate, when the build was given one:
#   SIGN_PFX            the .pfx file (certificate and private key)
#   SIGN_PASSWORD       its password
#   SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping server, so the
#                       signature outlives the certificate
# Without SIGN_PFX it leaves the file as it is: an unsigned build.
set -euo pipefail

file=${1:?usage: sign.sh FILE}
[[ -n ${SIGN_PFX:-} ]] || exit 0
: "${SIGN_PASSWORD?SIGN_PFX is set but SIGN_PASSWORD is not}"

timestamp=()
[[ -n ${SIGN_TIMESTAMP_URL:-} ]] && timestamp=(-ts "$SIGN_TIMESTAMP_URL")
signed="$file.signed"
trap 'rm -f "$signed"' EXIT
# The password goes through a pipe: on the command line every user of the
# build machine could read it.
printf '%s' "$SIGN_PASSWORD" |
  osslsigncode sign -pkcs12 "$SIGN_PFX" -readpass - -h sha256 \
    -n "Драйвер для сканера штрих-кода" "${timestamp[@]}" -in "$file" -out "$signed" >/dev/null
mv -f "$signed" "$file"
