#!/usr/bin/env bash
# Release checks, as a verifier makes them.
#   check_release.sh reproducible SOURCE_DIR
#     Two releases of SOURCE_DIR's HEAD commit (so: commit what is to be tested), cloned
#     into two folders and built a while apart, the second as another user (nobody, when
#     run as root) with another TMPDIR and umask and signed by a code-signing certificate
#     of a test CA: the signature verifies against that CA, and the signed exe less its
#     signature is the first exe, byte for byte.
#   check_release.sh signed SOURCE_DIR IN.exe OUT.exe
#     Signs IN.exe into OUT.exe the way a release is signed, and verifies it.
set -euo pipefail
mode=$1 src=$2
sign_with_test_ca() {  # CERTS_DIR
  bash "$src/tests/net/make_certs.sh" "$1"
  export SIGN_PFX="$1/codesign.pfx" SIGN_PASSWORD_FILE="$1/codesign.password"
  export SIGN_URL="https://localhost/zelkors-mods-pack"
}
verified() {  # EXE CA
  osslsigncode verify -CAfile "$2" -in "$1" > "$1.verify" || { cat "$1.verify"; return 1; }
  grep -qF "Text description: Zelkor's Mods Pack" "$1.verify" &&
    grep -qF "URL description: $SIGN_URL" "$1.verify"
}
if [ "$mode" = signed ]; then
  mkdir -p "$(dirname "$4")"
  sign_with_test_ca "$(dirname "$4")/certs"
  bash "$src/scripts/sign-release.sh" "$3" "$4" && verified "$4" "$(dirname "$4")/certs/ca.pem"
  exit
fi

work=$(mktemp -d) && chmod 755 "$work" && trap 'rm -rf "$work"' EXIT
clone_head() {  # FOLDER
  git clone -q --no-hardlinks "$src" "$1/src"
  git -C "$1/src" checkout -q --detach "$(git -C "$src" rev-parse HEAD)"
  mkdir -p "$1/src/.cache" "$1/tmp" "$1/out"
  cp -r "$src/.cache/minizip-source" "$1/src/.cache/"
}
release() {  # FOLDER UMASK [COMMAND PREFIX...]
  local dir=$1 mask=$2; shift 2
  (cd "$dir/src" && umask "$mask" &&
   TMPDIR="$dir/tmp" HOME="$dir" "$@" scripts/release.sh -o "$dir/out")
}
a=$work/a b=$work/second/elsewhere
clone_head "$a" && clone_head "$b"
release "$a" 022 | grep -F "not signed"
sign_with_test_ca "$b/certs"
user=()
if [ "$(id -u)" = 0 ]; then
  chown -R nobody:nogroup "$work/second"
  user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env USER=nobody LOGNAME=nobody)
fi
release "$b" 077 "${user[@]}"

version=$(sed -n 's/^project(.* VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
exe=ZelkorsModsPackSetup-$version.exe
verified "$b/out/$exe" "$b/certs/ca.pem"
osslsigncode remove-signature -in "$b/out/$exe" -out "$work/unsigned.exe" >/dev/null
cmp "$a/out/$exe" "$work/unsigned.exe"
diff <(head -n -1 "$a/out/BUILDINFO") <(head -n -1 "$b/out/BUILDINFO")
grep -x "signature: none: this release is not signed" "$a/out/BUILDINFO"
grep -x "signature: Authenticode, SHA-256, not time-stamped" "$b/out/BUILDINFO"
(cd "$a/out" && sha256sum -c SHA256SUMS) && (cd "$b/out" && sha256sum -c SHA256SUMS)
grep -q "^Version $version:" "$src/README.md"
python3 -c 'import sys; assert sys.argv[2].encode("utf-16-le") in open(sys.argv[1], "rb").read()' \
  "$a/out/$exe" "$version.0"
echo "release: reproducible and signed as it should be"
