#!/usr/bin/env bash
# Makes the certificates the download tests' HTTPS server presents, once per directory:
#   ca.key ca.pem ca.der                   test CA (trusted in a test Wine prefix only)
#   server.key server.pem                  localhost, signed by the test CA
#   untrusted-ca.key untrusted-ca.pem      a second CA that nobody trusts
#   untrusted.key untrusted.pem            localhost, signed by the untrusted CA
#   otherhost.key otherhost.pem            elsewhere.invalid, signed by the test CA
#   expired.key expired.pem                localhost, by the test CA, valid in 2020 only
#   selfsigned.key selfsigned.pem          localhost, signed by itself
#   codesign.pfx codesign.password         a code-signing certificate from the test CA,
#                                          with its key, and the PFX's password
# Usage: bash tests/net/make_certs.sh DIR
# Wine's crypt32 wants a proper chain: CA:TRUE with keyCertSign on the CAs, serverAuth and
# SAN DNS:localhost on the leaves (a bare CN is not enough for a name match).
set -euo pipefail
dir=${1:?usage: make_certs.sh DIR}
mkdir -p "$dir"
cd "$dir"
[ -f untrusted.pem ] && [ -f server.pem ] && [ -f ca.der ] && [ -f codesign.pfx ] \
  && [ -f otherhost.pem ] && [ -f expired.pem ] && [ -f selfsigned.pem ] && exit 0

days=7300
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/ext.cnf" <<'CNF'
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[leaf]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
[otherhost]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:elsewhere.invalid
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
CNF

# make_ca NAME "CN"
make_ca() {
  openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days "$days" \
    -keyout "$1.key" -out "$1.pem" -subj "/O=Zelkor Test/CN=$2" \
    -config "$tmp/ext.cnf" -extensions ca 2>/dev/null
}
# make_leaf NAME CA [EXTENSIONS CN]
make_leaf() {
  openssl req -new -newkey rsa:2048 -nodes -sha256 -keyout "$1.key" -out "$tmp/$1.csr" \
    -subj "/O=Zelkor Test/CN=${4:-localhost}" -config "$tmp/ext.cnf" 2>/dev/null
  openssl x509 -req -in "$tmp/$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial \
    -CAserial "$tmp/$2.srl" -sha256 -days "$days" -extfile "$tmp/ext.cnf" -extensions "${3:-leaf}" \
    -out "$1.pem" 2>/dev/null
}

# make_expired NAME CA: a leaf whose validity ended years ago, through openssl ca, which
# takes any start and end date.
make_expired() {
  openssl req -new -newkey rsa:2048 -nodes -sha256 -keyout "$1.key" -out "$tmp/$1.csr" \
    -subj "/O=Zelkor Test/CN=localhost" -config "$tmp/ext.cnf" 2>/dev/null
  mkdir -p "$tmp/ca-db"
  : > "$tmp/ca-db/index.txt"
  cat >"$tmp/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $tmp/ca-db/index.txt
new_certs_dir = $tmp/ca-db
serial = $tmp/ca-db/serial
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
  openssl rand -hex 8 > "$tmp/ca-db/serial"
  openssl ca -batch -notext -config "$tmp/ca.cnf" -cert "$2.pem" -keyfile "$2.key" \
    -startdate 20200101000000Z -enddate 20201231235959Z -extfile "$tmp/ext.cnf" \
    -extensions leaf -in "$tmp/$1.csr" -out "$1.pem" 2>/dev/null
}

# Each made once: a CA made again would no longer be the one a test prefix trusts.
[ -f ca.pem ] || make_ca ca "Zelkor Test CA"
[ -f server.pem ] || make_leaf server ca
[ -f otherhost.pem ] || make_leaf otherhost ca otherhost elsewhere.invalid
[ -f expired.pem ] || make_expired expired ca
[ -f untrusted-ca.pem ] || make_ca untrusted-ca "Zelkor Untrusted CA"
[ -f untrusted.pem ] || make_leaf untrusted untrusted-ca
[ -f selfsigned.pem ] || openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days "$days" \
  -keyout selfsigned.key -out selfsigned.pem -subj "/O=Zelkor Test/CN=localhost" \
  -config "$tmp/ext.cnf" -extensions leaf 2>/dev/null
[ -f ca.der ] || openssl x509 -in ca.pem -outform DER -out ca.der
if [ ! -f codesign.pfx ]; then
  make_leaf codesign ca codesign "Zelkor Test Code Signing"
  openssl rand -hex 16 > codesign.password
  openssl pkcs12 -export -in codesign.pem -inkey codesign.key -certfile ca.pem \
    -name "Zelkor Test Code Signing" -out codesign.pfx -passout file:codesign.password
fi
chmod 600 ./*.key codesign.password codesign.pfx
