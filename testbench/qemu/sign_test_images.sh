#!/usr/bin/env bash
# The signed set for the Secure Boot boots (a test fixture), in OUT:
#
#   BOOTAA64.efi SimPlatform.efi Murvane.efi   signed with the db key, and so are
#   FakeBoard.efi MurvaneBridge.efi MurvaneBridgeIo.efi (the stock-board boots)
#   Murvane.unsigned.efi                        the build output as it is
#   Murvane.tampered.efi                        signed, then one code byte changed
#   Murvane.otherkey.efi                        signed with a key the firmware does not trust
#
#   sign_test_images.sh IMAGES OUT DB_KEY DB_CERT PASSPHRASE
#
# DB_KEY/DB_CERT: the test key the firmware's VARS enrol (Debian's snakeoil
# pair, passphrase-protected); a plain copy of the key is written into OUT
# for sbsign. The other key is made here, fresh on every run. Test keys
# only: nothing signed here is fit to ship.
set -euo pipefail

if [ $# -ne 5 ]; then
  echo "usage: $0 IMAGES OUT DB_KEY DB_CERT PASSPHRASE" >&2
  exit 2
fi
images="$1" out="$2" db_key="$3" db_cert="$4" pass="$5"
sign="$(dirname "$0")/../../scripts/sign.sh"

rm -rf "$out"
mkdir -p "$out"
openssl pkey -in "$db_key" -passin "pass:$pass" -out "$out/db.key"
cp "$db_cert" "$out/db.pem"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Murvane test: not enrolled/" \
  -keyout "$out/other.key" -out "$out/other.pem" 2>/dev/null

for image in BOOTAA64 SimPlatform Murvane FakeBoard MurvaneBridge MurvaneBridgeIo; do
  bash "$sign" "$out/db.key" "$out/db.pem" "$images/$image.efi" "$out/$image.efi"
done
cp "$images/Murvane.efi" "$out/Murvane.unsigned.efi"
bash "$sign" "$out/other.key" "$out/other.pem" "$images/Murvane.efi" "$out/Murvane.otherkey.efi"

# Tampered: one byte in the middle of the first section's file data (the
# code), which the signature covers, unlike the PE checksum field.
u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
u16() { od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
cp "$out/Murvane.efi" "$out/Murvane.tampered.efi"
f="$out/Murvane.tampered.efi"
pe=$(u32 "$f" 60)
section_table=$((pe + 24 + $(u16 "$f" $((pe + 20)))))
raw_size=$(u32 "$f" $((section_table + 16)))
raw_at=$(u32 "$f" $((section_table + 20)))
at=$((raw_at + raw_size / 2))
old=$(od -An -t u1 -j "$at" -N 1 "$f" | tr -d ' ')
# shellcheck disable=SC2059 # the format is the byte
printf "\\x$(printf '%02x' $((old ^ 0xFF)))" | dd of="$f" bs=1 seek="$at" conv=notrunc status=none
echo "tampered: byte at file offset $at (first section, $raw_size bytes from $raw_at): $old -> $((old ^ 0xFF))"

# Only the signed set may verify against the db certificate.
for refused in unsigned tampered otherkey; do
  if sbverify --cert "$out/db.pem" "$out/Murvane.$refused.efi" >/dev/null 2>&1; then
    echo "Murvane.$refused.efi verifies against the db certificate: it would not test a refusal" >&2
    exit 1
  fi
done
echo "signed set in $out; unsigned, tampered and other-key copies do not verify against the db certificate"
