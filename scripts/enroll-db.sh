#!/usr/bin/env bash
# Secure Boot with your own key: makes a fresh db key and certificate and
# enrolls the certificate into a copy of the firmware's variable store, so
# images signed with that key boot under Secure Boot.
#
#   scripts/enroll-db.sh --out DIR [--by-firmware] [options]
#
# Writes into DIR (a new or empty directory):
#   db.key    the new private key, PEM, no passphrase: it signs your images
#             (scripts/sign.sh DIR/db.key DIR/db.pem IN OUT); keep it private
#   db.pem    its certificate, the one enrolled
#   db.esl    the certificate as an EFI_SIGNATURE_LIST (cert-to-efi-sig-list)
#   db.auth   that list signed by KEK for an append to db (sign-efi-sig-list -a),
#             what a firmware's SetVariable or setup menu takes
#   VARS.fd   the copy of the variable store with the certificate in db
#   enroll.log  (--by-firmware) the serial log of the enrollment boot
#
# How, by default: offline. scripts/varstore-append-db.py appends db.esl to
# the db variable in the copy (EDK2's authenticated variable-store format,
# the one QEMU's firmware uses), as the firmware would after an accepted
# update; no firmware runs and nothing checks db.auth's signature.
#
# --by-firmware: the firmware itself enrolls it. One boot of the firmware
# (QEMU) with VARS.fd writable runs EnrollDb.efi, which hands db.auth to
# SetVariable; the firmware checks the signature against its KEK, appends
# the list to db, and the application reads db back. That proves db.auth
# right for any firmware that has the KEK.
# EnrollDb.efi must pass Secure Boot itself: it is signed with the signer
# key below, which the store's db must already trust.
#
# Options (defaults: Debian's qemu-efi-aarch64 test firmware and its
# "snakeoil" pair, which is PK, KEK and db at once; test keys only):
#   --name CN            subject of the new certificate (default "Murvane db key")
#   --vars FILE          variable store to copy (/usr/share/AAVMF/AAVMF_VARS.snakeoil.fd)
#   --kek-key FILE       KEK private key (/usr/share/qemu-efi-aarch64/PkKek-1-snakeoil.key)
#   --kek-cert FILE      KEK certificate (/usr/share/qemu-efi-aarch64/PkKek-1-snakeoil.pem)
#   --kek-pass TEXT      the KEK key's passphrase (snakeoil; "" for a plain key)
#   With --by-firmware also:
#   --code FILE          firmware code (/usr/share/AAVMF/AAVMF_CODE.fd)
#   --signer-key FILE, --signer-cert FILE, --signer-pass TEXT
#                        the db key EnrollDb.efi is signed with (default: the KEK pair)
#   --images DIR         where EnrollDb.efi is (build/default/efi/images)
#   --qemu CMD, --mkfs CMD, --mmd CMD, --mcopy CMD   the tools
# Exit status: 0 enrolled, 1 failed (it says why), 2 bad arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/uefi-disk-boot.sh
source "$root/scripts/uefi-disk-boot.sh"

out="" name="Murvane db key" by_firmware=0
code=/usr/share/AAVMF/AAVMF_CODE.fd vars=/usr/share/AAVMF/AAVMF_VARS.snakeoil.fd
kek_key=/usr/share/qemu-efi-aarch64/PkKek-1-snakeoil.key kek_cert=/usr/share/qemu-efi-aarch64/PkKek-1-snakeoil.pem
kek_pass=snakeoil signer_key="" signer_cert="" signer_pass=""
images="$root/build/default/efi/images"
qemu=qemu-system-aarch64 mkfs=/usr/sbin/mkfs.vfat mmd=mmd mcopy=mcopy
usage() {
  echo "enroll-db: $1 (see --help)" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    --by-firmware) by_firmware=1; shift; continue ;;
  esac
  [ $# -ge 2 ] || usage "$1 needs a value"
  case "$1" in
    --out) out="$2" ;;
    --name) name="$2" ;;
    --kek-key) kek_key="$2" ;;
    --kek-cert) kek_cert="$2" ;;
    --kek-pass) kek_pass="$2" ;;
    --signer-key) signer_key="$2" ;;
    --signer-cert) signer_cert="$2" ;;
    --signer-pass) signer_pass="$2" ;;
    --images) images="$2" ;;
    *) uefi_boot_option "$1" "$2" || usage "unknown argument $1" ;;
  esac
  shift 2
done
[ -n "$out" ] || usage "--out DIR is required"
if [ -z "$signer_key" ]; then
  signer_key="$kek_key" signer_cert="$kek_cert" signer_pass="$kek_pass"
fi
needed=("$vars" "$kek_key" "$kek_cert")
tools=(openssl cert-to-efi-sig-list sign-efi-sig-list python3)
if [ $by_firmware -eq 1 ]; then
  needed+=("$code" "$signer_key" "$signer_cert" "$images/EnrollDb.efi")
  tools+=(sbsign "$qemu" "$mkfs" "$mmd" "$mcopy")
fi
for f in "${needed[@]}"; do
  [ -f "$f" ] || usage "no such file: $f"
done
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || usage "$tool is not installed (scripts/deps.sh installs it)"
done
if [ -e "$out" ] && [ -n "$(ls -A "$out")" ]; then
  usage "$out is not empty: give a new directory (an enrolled key is not overwritten)"
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Plain copies of passphrase-protected keys, only for this run: neither
# sbsign nor sign-efi-sig-list can be given a passphrase without a terminal.
plain() {  # KEY PASS OUT
  if [ -n "$2" ]; then
    openssl pkey -in "$1" -passin "pass:$2" -out "$3"
  else
    cp "$1" "$3"
  fi
}
plain "$kek_key" "$kek_pass" "$tmp/kek.key"

# The new key and certificate, and the signed update of db.
(umask 077 && openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=$name/" -sha256 \
  -keyout "$out/db.key" -out "$out/db.pem" 2>/dev/null)
owner=$(cat /proc/sys/kernel/random/uuid)
cert-to-efi-sig-list -g "$owner" "$out/db.pem" "$out/db.esl" >/dev/null
sign-efi-sig-list -a -g "$owner" -k "$tmp/kek.key" -c "$kek_cert" db "$out/db.esl" "$out/db.auth" >/dev/null
echo "enroll-db: new key $out/db.key, certificate $out/db.pem (owner $owner)" >&2

cp "$vars" "$out/VARS.fd"
if [ $by_firmware -eq 0 ]; then
  if ! python3 "$root/scripts/varstore-append-db.py" "$out/VARS.fd" "$out/db.esl" "$out/db.auth" >&2; then
    rm -f "$out/VARS.fd"
    echo "enroll-db: the certificate was NOT enrolled" >&2
    exit 1
  fi
  echo "enroll-db: enrolled in $out/VARS.fd (offline); boot with it as pflash unit 1" >&2
  exit 0
fi

# The enrollment boot: EnrollDb.efi as the removable-media loader, db.auth
# beside it, the store copy writable.
plain "$signer_key" "$signer_pass" "$tmp/signer.key"
bash "$root/scripts/sign.sh" "$tmp/signer.key" "$signer_cert" "$images/EnrollDb.efi" "$tmp/BOOTAA64.EFI" >/dev/null
uefi_boot_disk "$tmp/esp.img" ENROLL "$tmp/BOOTAA64.EFI" "$out/db.auth"
status=0
uefi_boot_args "$out/enroll.log" "$out/VARS.fd" "$tmp/esp.img"
timeout 60 "$qemu" "${uefi_boot_args[@]}" -no-reboot </dev/null || status=$?
if ! tr -d '\r' <"$out/enroll.log" | grep -q '^\[enroll\] enrolled$'; then
  echo "enroll-db: the certificate was NOT enrolled (QEMU exit status $status); the boot's log:" >&2
  sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$out/enroll.log" | tr -d '\r' | grep -v '^$' | sed 's/^/  /' >&2
  rm -f "$out/VARS.fd"
  exit 1
fi
tr -d '\r' <"$out/enroll.log" | grep '^\[enroll\] db:' | sed 's/^\[enroll\] /enroll-db: /' >&2
echo "enroll-db: enrolled in $out/VARS.fd by the firmware; boot with it as pflash unit 1" >&2
