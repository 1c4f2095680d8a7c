#!/usr/bin/env bash
# Secure Boot with a key of one's own, end to end: scripts/enroll-db.sh
# makes a fresh db key and enrolls its certificate into a copy of the test
# firmware's variable store (offline, its default); the three images signed
# with that key then boot under Secure Boot to the same log and verdict as
# the host, and a copy of the driver signed with another fresh key is
# refused. Then the same with another fresh key enrolled by the firmware
# itself (--by-firmware: its SetVariable checks the KEK signature): its set
# boots, the driver signed with a key it did not enroll is refused.
#
# Checks that this can fail: the images signed with the fresh key do not
# verify against the store's own test certificate, and the unchanged store
# refuses them (its boot stops at the refused loader); an update of db
# signed by a key that is not in KEK is refused by the firmware, and the
# script says so with exit status 1; a store with no db is refused offline.
#
# usage: secure_own_key_test.sh SOURCE_DIR IMAGES WORK CHECKER QEMU CODE VARS EMPTY_VARS TEST_CERT MKFS MMD MCOPY
#   VARS: the store to copy (Secure Boot on); EMPTY_VARS: a store with no
#   keys; TEST_CERT: the certificate VARS's db already trusts (and its KEK),
#   which the fresh key must not be
set -euo pipefail
src="$1" images="$2" work="$3" checker="$4" qemu="$5" code="$6" vars="$7" empty_vars="$8" test_cert="$9"
mkfs="${10}" mmd="${11}" mcopy="${12}"
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok:   $*"; }
tools=(--qemu "$qemu" --mkfs "$mkfs" --mmd "$mmd" --mcopy "$mcopy")

# The key and the enrolled store.
if ! bash "$src/scripts/enroll-db.sh" --out "$work/key" --name "Murvane test: own db key" --vars "$vars"; then
  echo "FAIL: scripts/enroll-db.sh did not enroll the fresh certificate"
  exit 1
fi
ok "enroll-db.sh enrolled a fresh certificate (offline)"
for f in db.key db.pem db.esl db.auth VARS.fd; do
  [ -s "$work/key/$f" ] || fail "enroll-db.sh wrote no $f"
done
cmp -s "$work/key/VARS.fd" "$vars" && fail "the enrolled store is the unchanged one"

# The signed set: every image with the fresh key; the driver also with
# another fresh key, which nothing enrolled.
signed="$work/signed"
mkdir -p "$signed"
for image in BOOTAA64 SimPlatform Murvane; do
  bash "$src/scripts/sign.sh" "$work/key/db.key" "$work/key/db.pem" "$images/$image.efi" "$signed/$image.efi" \
    >/dev/null
done
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Murvane test: not enrolled/" \
  -keyout "$work/other.key" -out "$work/other.pem" 2>/dev/null
bash "$src/scripts/sign.sh" "$work/other.key" "$work/other.pem" "$images/Murvane.efi" "$signed/Murvane.otherkey.efi" \
  >/dev/null
if sbverify --cert "$test_cert" "$signed/Murvane.efi" >/dev/null 2>&1; then
  fail "the image signed with the fresh key verifies against the snakeoil certificate: it proves nothing"
fi
sbverify --cert "$work/key/db.pem" "$signed/Murvane.otherkey.efi" >/dev/null 2>&1 \
  && fail "the other key's copy verifies against the enrolled certificate"

boot() {  # NAME ARGS...: one boot through the harness, its output kept
  local name="$1"
  shift
  bash "$src/testbench/qemu/qemu_test.sh" --kind edk2-secure --scenario zq3101 --images "$images" --signed "$signed" \
    --checker "$checker" --secure-code "$code" "${tools[@]}" --work "$work/$name" "$@" >"$work/$name.out" 2>&1
}
if boot accepted --secure-vars "$work/key/VARS.fd" --guard counter; then
  ok "signed with the fresh key: booted under Secure Boot, log and verdict as on the host"
else
  fail "the set signed with the fresh key did not boot as expected:"
  sed 's/^/    /' "$work/accepted.out"
fi
if boot refused --secure-vars "$work/key/VARS.fd" --driver otherkey --expect-refused; then
  ok "the driver signed with another fresh key: refused, nothing of it ran"
else
  fail "the driver signed with another key was not refused as expected:"
  sed 's/^/    /' "$work/refused.out"
fi
if boot unenrolled --secure-vars "$vars" --expect-dead-end "failed to load"; then
  ok "without the enrollment the firmware refuses the same set"
else
  fail "the store without the fresh certificate did not refuse the set:"
  sed 's/^/    /' "$work/unenrolled.out"
fi

# Enrolled by the firmware: another fresh key, its own signed set.
if bash "$src/scripts/enroll-db.sh" --by-firmware --out "$work/fwkey" --name "Murvane test: firmware-enrolled key" \
  --code "$code" --vars "$vars" --images "$images" "${tools[@]}" >"$work/fwkey.out" 2>&1 \
  && grep -q 'the new certificate is in it' "$work/fwkey.out"; then
  ok "enroll-db.sh --by-firmware: the firmware took the signed update"
else
  fail "enroll-db.sh --by-firmware did not enroll:"
  sed 's/^/    /' "$work/fwkey.out"
fi
fwsigned="$work/fwsigned"
mkdir -p "$fwsigned"
for image in BOOTAA64 SimPlatform Murvane; do
  [ -f "$work/fwkey/db.key" ] && bash "$src/scripts/sign.sh" "$work/fwkey/db.key" "$work/fwkey/db.pem" \
    "$images/$image.efi" "$fwsigned/$image.efi" >/dev/null
done
if bash "$src/testbench/qemu/qemu_test.sh" --kind edk2-secure --scenario zq3201 --images "$images" --signed "$fwsigned" \
  --checker "$checker" --secure-code "$code" "${tools[@]}" --work "$work/fwaccepted" \
  --secure-vars "$work/fwkey/VARS.fd" --guard counter >"$work/fwaccepted.out" 2>&1; then
  ok "signed with the firmware-enrolled key: booted under Secure Boot, log and verdict as on the host"
else
  fail "the set signed with the firmware-enrolled key did not boot as expected:"
  sed 's/^/    /' "$work/fwaccepted.out"
fi
# The store the firmware wrote trusts that key, not any: the driver signed
# with another fresh key, beside the set signed with the enrolled one.
cp "$signed/Murvane.otherkey.efi" "$fwsigned/Murvane.otherkey.efi"
if bash "$src/testbench/qemu/qemu_test.sh" --kind edk2-secure --scenario zq3201 --images "$images" --signed "$fwsigned" \
  --checker "$checker" --secure-code "$code" "${tools[@]}" --work "$work/fwrefused" \
  --secure-vars "$work/fwkey/VARS.fd" --driver otherkey --expect-refused >"$work/fwrefused.out" 2>&1; then
  ok "the firmware-enrolled store: the driver signed with another fresh key refused, nothing of it ran"
else
  fail "the firmware-enrolled store did not refuse the driver signed with another key as expected:"
  sed 's/^/    /' "$work/fwrefused.out"
fi

# Offline, a store with no db to append to (the empty template, not even
# formatted until a firmware first boots with it) is refused.
status=0
bash "$src/scripts/enroll-db.sh" --out "$work/nodb" --vars "$empty_vars" >"$work/nodb.out" 2>&1 || status=$?
if [ $status -eq 1 ] && grep -q 'does not start with a firmware volume' "$work/nodb.out" \
  && grep -q 'NOT enrolled' "$work/nodb.out" && [ ! -e "$work/nodb/VARS.fd" ]; then
  ok "offline, a store without db: refused, exit status 1, no store left"
else
  fail "a store without db was not refused (exit status $status):"
  sed 's/^/    /' "$work/nodb.out"
fi

# An update of db signed by a key that is not in KEK: the firmware refuses
# it and the script reports the failure.
status=0
bash "$src/scripts/enroll-db.sh" --by-firmware --out "$work/badkek" --code "$code" --images "$images" \
  --kek-key "$work/other.key" --kek-cert "$work/other.pem" --kek-pass "" \
  --signer-key "$work/key/db.key" --signer-cert "$work/key/db.pem" --signer-pass "" --vars "$work/key/VARS.fd" \
  "${tools[@]}" >"$work/badkek.out" 2>&1 || status=$?
if [ $status -eq 1 ] && grep -q 'db append: Security Violation' "$work/badkek.out" && [ ! -e "$work/badkek/VARS.fd" ]; then
  ok "an update not signed by KEK: refused by the firmware (Security Violation), exit status 1, no store left"
else
  fail "an update not signed by KEK was not reported as refused (exit status $status):"
  sed 's/^/    /' "$work/badkek.out"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "Secure Boot with a fresh key of one's own: all checks passed"
