#!/usr/bin/env bash
# The package: SHA256SUMS beside the zip and in it, both true, and the program and its libraries
# signed with a throw-away certificate that osslsigncode then verifies. Runs on Linux.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Velmora Klarner Test" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
KLARNER_DIST_DIR="$work/dist" KLARNER_SIGN_CERT="$work/cert.pem" KLARNER_SIGN_KEY="$work/key.pem" \
  "$source_dir/scripts/package" > "$work/package.log"
grep -q '^signed:' "$work/package.log" || fail "the package was not signed"
zip=$(ls "$work/dist"/velmora-klarner-*-win64.zip)
(cd "$work/dist" && grep '\.zip$' SHA256SUMS | sha256sum -c --quiet) || fail "the zip's checksum"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder=$(ls -d "$work/unpacked"/velmora-klarner-*)
(cd "$folder" && sha256sum -c --quiet SHA256SUMS) || fail "the checksums in the zip"
(cd "$work/unpacked" && grep -v '\.zip$' "$work/dist/SHA256SUMS" | sha256sum -c --quiet) || fail "the files' checksums beside the zip"
for file in klarner.exe de-de/klarner.dll en-us/klarner.dll; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$folder/$file" >/dev/null 2>&1 || fail "$file is not signed"
done
[ -f "$folder/fleet/klarner-run.cmd" ] || fail "the fleet scripts are missing"

# A key with a password: read from a file, never given on a command line.
openssl req -x509 -newkey rsa:2048 -passout pass:klt-secret -days 2 -subj "/CN=Velmora Klarner Test" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/locked.pem" -out "$work/locked-cert.pem" >/dev/null 2>&1
printf 'klt-secret' > "$work/pass.txt"
KLARNER_DIST_DIR="$work/locked" KLARNER_SIGN_CERT="$work/locked-cert.pem" KLARNER_SIGN_KEY="$work/locked.pem" \
  KLARNER_SIGN_PASS_FILE="$work/pass.txt" "$source_dir/scripts/package" > "$work/locked.log"
mkdir "$work/locked-unpacked"
(cd "$work/locked-unpacked" && cmake -E tar xf "$(ls "$work/locked"/velmora-klarner-*-win64.zip)")
osslsigncode verify -CAfile "$work/locked-cert.pem" -in "$(ls -d "$work/locked-unpacked"/velmora-klarner-*)/klarner.exe" \
  >/dev/null 2>&1 || fail "a key with a password did not sign"
grep -q -- '-pass ' "$source_dir/scripts/package" && fail "the password goes on a command line"

# Without a certificate the package is written all the same, says so, and its program carries no
# signature that would verify.
KLARNER_DIST_DIR="$work/unsigned" "$source_dir/scripts/package" > "$work/unsigned.log"
grep -q '^not signed:' "$work/unsigned.log" || fail "no word of the missing signature"
mkdir "$work/plain"
(cd "$work/plain" && cmake -E tar xf "$(ls "$work/unsigned"/velmora-klarner-*-win64.zip)")
osslsigncode verify -CAfile "$work/cert.pem" -in "$(ls -d "$work/plain"/velmora-klarner-*)/klarner.exe" >/dev/null 2>&1 \
  && fail "an unsigned program passed the verification"
echo "package: checksums and signatures hold"
