#!/usr/bin/env bash
# The release bundle: scripts/release.sh on an already built UEFI build, then
# the archive unpacked and checked: its name carries the project's version,
# it holds the image (the very one built, printing that version), its map,
# the board settings (as text and as the C header the build generated), its
# own README, the integrator's package the tree has and the two examples,
# and SHA256SUMS lists every file exactly once with the right sum.
# (release_bundle_alone_test.sh builds and boots from it alone.)
# usage: release_bundle_test.sh SOURCE_DIR EFI_BUILD_DIR WORK_DIR
set -euo pipefail
src="$1" efi="$2" work="$3"
rm -rf "$work"
mkdir -p "$work"

bundle=$("$src/scripts/release.sh" --build "$efi" --out "$work/out")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

version=$(sed -n 's/^project(murvane VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "FAIL: no version in $src/CMakeLists.txt"; exit 1; }
name="murvane-$version-aarch64"
[ "$bundle" = "$work/out/$name.tar.gz" ] && [ -f "$bundle" ] && pass "bundle $name.tar.gz" \
  || { echo "FAIL: release.sh printed \"$bundle\", expected $work/out/$name.tar.gz"; exit 1; }

mkdir "$work/unpacked"
tar -C "$work/unpacked" -xzf "$bundle"
top=$(ls "$work/unpacked")
[ "$top" = "$name" ] && pass "one top folder, $name" || fail "top level is \"$top\", expected $name"
dir="$work/unpacked/$name"

required=(Murvane.efi Murvane.map SHA256SUMS board-settings.txt README.md examples/Consumer.c
          examples/StubPlatform.c MurvanePkg/Include/MurvaneBoardSettings.h)
while IFS= read -r f; do required+=("MurvanePkg/${f#"$src/integration/MurvanePkg/"}"); done \
  < <(find "$src/integration/MurvanePkg" -type f)
required+=(MurvanePkg/Murvane/Murvane.efi MurvanePkg/Murvane/Murvane.depex)
required+=(MurvaneBridge.efi MurvaneBridge.map bridge-settings.txt MurvanePkg/MurvaneBridge/MurvaneBridge.efi
           MurvanePkg/MurvaneBridge/MurvaneBridge.depex)
required+=("board/murvane-board_${version}_arm64.deb" "board/murvane-board_${version}_armhf.deb")
for f in "${required[@]}"; do
  [ -f "$dir/$f" ] || fail "missing $f"
done
pass "${#required[@]} required files looked for"

if (cd "$dir" && sha256sum --check --strict --quiet SHA256SUMS); then
  pass "every checksum in SHA256SUMS matches"
else
  fail "sha256sum --check SHA256SUMS failed"
fi
listed=$(cd "$dir" && awk '{ sub(/^\*/, "", $2); print $2 }' SHA256SUMS | LC_ALL=C sort)
present=$(cd "$dir" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
[ "$listed" = "$present" ] && pass "SHA256SUMS lists every file, once" \
  || fail "SHA256SUMS and the files differ: $(diff <(echo "$listed") <(echo "$present") | tr '\n' ' ')"
[ "$(echo "$listed" | uniq -d)" = "" ] || fail "SHA256SUMS lists a file twice"

cmp -s "$dir/Murvane.efi" "$efi/images/Murvane.efi" && pass "Murvane.efi is the image built" \
  || fail "Murvane.efi differs from $efi/images/Murvane.efi"
cmp -s "$dir/MurvanePkg/Murvane/Murvane.efi" "$efi/images/Murvane.efi" \
  && pass "the package's Murvane.efi is the image built" || fail "MurvanePkg/Murvane/Murvane.efi differs"
bash "$src/scripts/lint-edk2-modules.sh" "$dir/MurvanePkg" >/dev/null \
  && pass "the package passes the module-file lint" || fail "the bundled MurvanePkg fails the module-file lint"
grep -aqF "Murvane: zq uefi driver version is v$version" "$dir/Murvane.efi" \
  && pass "the image's version line says v$version" || fail "the image does not print version $version"
cmp -s "$dir/board-settings.txt" "$efi/images/board-settings.txt" \
  && pass "board-settings.txt is the one the image was built with" || fail "board-settings.txt differs"
for setting in MURVANE_I2C_INSTANCE MURVANE_I2C_SPEED_KHZ MURVANE_I2C_ADDRESS MURVANE_I2C_CONFIG_WORDS_3_TO_6 \
               MURVANE_RESET_PIN_WORD MURVANE_RESET_PIN_GPIO; do
  grep -q "^$setting=" "$dir/board-settings.txt" || fail "board-settings.txt has no $setting"
done
cmp -s "$dir/MurvanePkg/Include/MurvaneBoardSettings.h" "$efi/generated/murvane/MurvaneBoardSettings.h" \
  && pass "MurvaneBoardSettings.h is the one the image was built with" || fail "MurvaneBoardSettings.h differs"
cmp -s "$dir/examples/StubPlatform.c" "$src/integration/examples/StubPlatform.c" \
  && cmp -s "$dir/examples/Consumer.c" "$src/integration/examples/Consumer.c" \
  && pass "the examples are the tree's" || fail "the examples differ from the tree's"
[ ! -e "$dir/docs" ] && pass "no developer documents" || fail "the bundle carries docs/"
# murvane-board's packages: beside the bundle too, the same files, each the
# release's version and architecture (tests/kit/board_packages_test.sh
# checks what is inside them).
for arch in arm64 armhf; do
  deb="murvane-board_${version}_$arch.deb"
  cmp -s "$dir/board/$deb" "$work/out/$deb" && pass "board/$deb is the package beside the bundle" ||
    fail "board/$deb is not the package beside the bundle ($work/out/$deb)"
  [ "$(dpkg-deb -f "$dir/board/$deb" Version Architecture | tr '\n' ' ')" = "Version: $version Architecture: $arch " ] &&
    pass "board/$deb: version $version, architecture $arch" || fail "board/$deb: $(dpkg-deb -f "$dir/board/$deb" Version Architecture)"
done
# The bridge: the image built, in the kit too, with the expression of its mode.
for f in MurvaneBridge.efi MurvanePkg/MurvaneBridge/MurvaneBridge.efi; do
  cmp -s "$dir/$f" "$efi/images/MurvaneBridge.efi" && pass "$f is the bridge built" || fail "$f differs"
done
cmp -s "$dir/bridge-settings.txt" "$efi/images/bridge-settings.txt" \
  && pass "bridge-settings.txt is the one the bridge was built with" || fail "bridge-settings.txt differs"
# Each encoded expression is its module file's [Depex], encoded here on its
# own (not by murvane-depex, which made it): PUSH (0x02) and the GUID's 16
# bytes as EFI_GUID lays them out, for each name, AND (0x03) between them,
# END (0x08). Our GUIDs come from the bundled .dec, the standard protocols'
# are written here as the PI standard and EDK2's EmbeddedPkg define them.
depex_of_inf() {  # MODULE.inf PACKAGE.dec: the encoded expression, as hex
  python3 - "$1" "$2" <<'PY'
import re, struct, sys
inf, dec = (open(p).read() for p in sys.argv[1:3])
guids = {
    "gEfiI2cMasterProtocolGuid": (0xCD72881F, 0x45B5, 0x4FEB, (0x98, 0xC8, 0x31, 0x3D, 0xA8, 0x11, 0x74, 0x62)),
    "gEfiI2cIoProtocolGuid": (0xB60A3E6B, 0x18C4, 0x46E5, (0xA2, 0x9A, 0xC9, 0xA1, 0x06, 0x65, 0xA2, 0x8E)),
    "gEmbeddedGpioProtocolGuid": (0x17A0A3D7, 0xC0A5, 0x4635, (0xBB, 0xD5, 0x07, 0x21, 0x87, 0xDF, 0xE2, 0xEE)),
}
for name, body in re.findall(r"^\s*(g\w+)\s*=\s*\{(.*)\}\s*$", dec, re.M):
    n = [int(x, 16) for x in re.findall(r"0x[0-9A-Fa-f]+", body)]
    guids[name] = (n[0], n[1], n[2], tuple(n[3:11]))
section = re.search(r"^\[Depex\]\s*\n((?:[ \t]+\S.*\n?)+)", inf, re.M)
if not section:
    sys.exit("no [Depex] section")
words = section.group(1).split()
if len(words) != 3 or words[1] != "AND":
    sys.exit("[Depex] is not \"A AND B\": " + " ".join(words))
out = b""
for name in (words[0], words[2]):
    d1, d2, d3, d4 = guids[name]
    out += b"\x02" + struct.pack("<IHH", d1, d2, d3) + bytes(d4)
out += b"\x03\x08"
print(out.hex())
PY
}
for module in Murvane/Murvane MurvaneBridge/MurvaneBridge; do
  want=$(depex_of_inf "$dir/MurvanePkg/$module.inf" "$dir/MurvanePkg/MurvanePkg.dec") || want="(none)"
  got=$(od -An -v -tx1 "$dir/MurvanePkg/$module.depex" | tr -d ' \n')
  [ "$got" = "$want" ] && pass "$module.depex is its module file's [Depex], encoded (${#got} hex digits)" \
    || fail "$module.depex is $got; its module file's [Depex] encodes to $want"
done
mode=$(sed -n 's/^MURVANE_BRIDGE_MODE=//p' "$dir/bridge-settings.txt")
case "$mode" in
  master) want_name=gEfiI2cMasterProtocolGuid ;;
  io) want_name=gEfiI2cIoProtocolGuid ;;
  *) want_name="(no mode in bridge-settings.txt)" ;;
esac
grep -q "^  $want_name AND gEmbeddedGpioProtocolGuid\$" "$dir/MurvanePkg/MurvaneBridge/MurvaneBridge.inf" \
  && pass "MurvaneBridge.inf's [Depex] is the $mode mode's" || fail "MurvaneBridge.inf's [Depex] does not name $want_name"

# The same tree gives the same archive.
again=$("$src/scripts/release.sh" --build "$efi" --out "$work/again")
cmp -s "$bundle" "$again" && pass "a second run gives the same archive" || fail "a second run gives another archive"

# And the checks above can fail: a changed byte is caught, a file that
# SHA256SUMS does not list is found, and an expression one byte off is not
# its module file's.
printf 'x' >>"$dir/README.md"
if (cd "$dir" && sha256sum --check --strict --quiet SHA256SUMS >/dev/null 2>&1); then
  fail "a changed README.md still passes its checksum"
fi
touch "$dir/unlisted.txt"
present=$(cd "$dir" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
[ "$listed" != "$present" ] || fail "a file SHA256SUMS does not list goes unnoticed"
depex="$dir/MurvanePkg/Murvane/Murvane.depex"
printf '\x09' | dd of="$depex" bs=1 seek=$(($(stat -c %s "$depex") - 1)) conv=notrunc status=none
[ "$(od -An -v -tx1 "$depex" | tr -d ' \n')" != "$(depex_of_inf "$dir/MurvanePkg/Murvane/Murvane.inf" \
  "$dir/MurvanePkg/MurvanePkg.dec")" ] || fail "a Murvane.depex ending in 0x09 passes for its module file's"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "release bundle ok"
