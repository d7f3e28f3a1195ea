#!/usr/bin/env bash
# Signs an installer with Authenticode: SHA-256 digest, the product's name and URL in the
# signature, and a time stamp when a time-stamp server is named. Taken from the
# environment:
#   SIGN_PFX            the code-signing certificate with its key (PKCS#12 file)
#   SIGN_PASSWORD_FILE  the file that holds its password (osslsigncode reads it there:
#                       the password never appears on a command line)
#   SIGN_URL            the product's page, shown with the name in the signature
#   SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# Then checks that removing the signature gives back the input's very bytes: that is how
# anyone compares a signed release with an exe they built themselves.
# Usage: scripts/sign-release.sh IN.exe OUT.exe
set -euo pipefail
in=${1:?usage: sign-release.sh IN.exe OUT.exe}
out=${2:?usage: sign-release.sh IN.exe OUT.exe}
product="Zelkor's Mods Pack"

for var in SIGN_PFX SIGN_PASSWORD_FILE SIGN_URL; do
  [ -n "${!var:-}" ] || { echo "sign: $var is not set" >&2; exit 2; }
done
for file in "$SIGN_PFX" "$SIGN_PASSWORD_FILE"; do
  [ -r "$file" ] || { echo "sign: cannot read $file" >&2; exit 2; }
done
stamp=()
[ -n "${SIGN_TIMESTAMP_URL:-}" ] && stamp=(-ts "$SIGN_TIMESTAMP_URL")

rm -f "$out"
osslsigncode sign -pkcs12 "$SIGN_PFX" -readpass "$SIGN_PASSWORD_FILE" -h sha256 \
  -n "$product" -i "$SIGN_URL" "${stamp[@]}" -in "$in" -out "$out" >/dev/null

# osslsigncode writes only new files.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unsigned="$scratch/unsigned.exe"
osslsigncode remove-signature -in "$out" -out "$unsigned" >/dev/null
if ! cmp -s "$in" "$unsigned"; then
  echo "sign: the signed exe less its signature differs from $in" >&2
  rm -f "$out"
  exit 1
fi
