#!/usr/bin/env bash
# Signs a UEFI image for Secure Boot with your platform's db key and checks
# the signature against the certificate:
#
#   scripts/sign.sh KEY CERT IN OUT
#
# KEY is the private key (PEM, without a passphrase: `openssl pkey -in
# protected.key -out plain.key` writes such a copy; keep it off shared
# disks), CERT the matching certificate (PEM) enrolled in the firmware's db.
# OUT is a new file; IN stays as it was (the unsigned build output is what
# the image checks inspect). Sign with your own key; never ship a test key.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 KEY CERT IN OUT" >&2
  exit 2
fi
key="$1" cert="$2" in="$3" out="$4"
for f in "$key" "$cert" "$in"; do
  if [ ! -f "$f" ]; then
    echo "sign.sh: no such file: $f" >&2
    exit 2
  fi
done
if [ "$(realpath -m "$in")" = "$(realpath -m "$out")" ]; then
  echo "sign.sh: OUT must be another file than IN" >&2
  exit 2
fi

tmp="$out.tmp.$$"
trap 'rm -f "$tmp"' EXIT
if ! msg=$(sbsign --key "$key" --cert "$cert" --output "$tmp" "$in" 2>&1); then
  echo "sign.sh: sbsign failed: $msg" >&2
  exit 1
fi
# A signature the certificate does not verify is worth nothing: check it
# before OUT exists.
if ! sbverify --cert "$cert" "$tmp" >/dev/null 2>&1; then
  echo "sign.sh: the signed copy of $in does not verify against $cert" >&2
  exit 1
fi
mv "$tmp" "$out"
trap - EXIT
echo "signed $in -> $out ($(stat -c %s "$out") bytes), verified against $cert"
