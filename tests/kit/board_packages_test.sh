#!/usr/bin/env bash
# murvane-board's Debian packages as a board engineer's dpkg and man see
# them: the release's version, the five files and nothing else (root-owned),
# the man page and the changelog compressed as Debian wants (gzip -9n), a
# man page that lists exactly the options the packaged tool's --help lists
# (run here under qemu-user), with no complaint from man, and lintian with
# no error, and no warning or override but those docs/board-bringup.md
# lists with their reasons. The host's murvane-sim --man-page is held against its --help the
# same way.
# usage: board_packages_test.sh SOURCE_DIR WORK_DIR MURVANE_SIM DEB...
set -euo pipefail
src="$1" work="$2" sim="$3"
shift 3
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

version=$(sed -n 's/^project(murvane VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "FAIL: no version in $src/CMakeLists.txt"; exit 1; }

# The option names a --help text lists, and those a man page's .TP items
# name, one a line, sorted.
help_options() { grep -oE '^ +(-[a-zA-Z],)?--[a-z][a-z-]*' | tr -d ' ' | tr ',' '\n' | LC_ALL=C sort; }
man_options() {
  awk 'after_tp { print; after_tp = 0 } /^\.TP$/ { after_tp = 1 }' |
    grep -oE '\\fB\\-(\\-[a-z][a-z\\-]*|[a-zA-Z])\\fR' | sed -e 's/\\fB//; s/\\fR//; s/\\-/-/g' | LC_ALL=C sort
}
# Which words of A are not in B (both sorted lists), as one line.
missing() { LC_ALL=C comm -23 <(echo "$1") <(echo "$2") | tr '\n' ' '; }
same_options() {
  local who="$1" help="$2" man="$3"
  if [ -z "$help" ]; then
    fail "$who: --help lists no option"
  elif [ "$help" = "$man" ]; then
    pass "$who: the man page lists the $(echo "$help" | wc -l) options --help lists, and no other"
  else
    fail "$who: in --help, not in the man page: $(missing "$help" "$man"); in the man page, not in --help: $(missing "$man" "$help")"
  fi
}
# A gzip file as Debian wants it: no name, no time, the best compression.
gzip_9n() {
  local f="$1" header
  header=$(od -An -tx1 -N10 "$f" | tr -d ' \n')
  gzip -t "$f" 2>/dev/null && [ "${header:0:6}" = 1f8b08 ] && [ $((0x${header:6:2} & 8)) -eq 0 ] &&
    [ "${header:8:8}" = 00000000 ] && [ "${header:16:2}" = 02 ]
}
# The warnings and overrides docs/board-bringup.md keeps: "- `TAG`:
# reason" under its lintian heading.
kept=$(sed -n '/^### What lintian says/,/^##/p' "$src/docs/board-bringup.md" | sed -n 's/^- `\([a-z0-9-]*\)`:.*/\1/p' | sort)

[ $# -eq 2 ] || fail "expected the two packages, arm64 and armhf, got $# files"
for deb in "$@"; do
  arch=$(dpkg-deb -f "$deb" Architecture)
  name="murvane-board_${version}_$arch.deb"
  [ "$(basename "$deb")" = "$name" ] && pass "$name" || fail "$deb is not named $name"
  [ "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)" = "murvane-board $version" ] &&
    pass "$arch: package murvane-board, version $version" ||
    fail "$arch: package $(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version), not murvane-board $version"

  files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort | tr '\n' ' ')
  want="./usr/bin/murvane-board ./usr/share/doc/murvane-board/changelog.gz ./usr/share/doc/murvane-board/copyright ./usr/share/lintian/overrides/murvane-board ./usr/share/man/man1/murvane-board.1.gz "
  [ "$files" = "$want" ] && pass "$arch: the tool, its man page, copyright, changelog and lintian overrides, nothing else" ||
    fail "$arch: the package holds $files"
  owners=$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u | tr '\n' ' ')
  [ "$owners" = "root/root " ] && pass "$arch: every entry root/root" || fail "$arch: owners $owners"

  root="$work/$arch"
  dpkg-deb -x "$deb" "$root"
  for f in usr/share/man/man1/murvane-board.1.gz usr/share/doc/murvane-board/changelog.gz; do
    gzip_9n "$root/$f" && pass "$arch: $f is gzip -9n (no name, no time)" || fail "$arch: $f is not gzip -9n"
  done
  first=$(zcat "$root/usr/share/doc/murvane-board/changelog.gz" | head -1)
  [[ "$first" == "murvane-board ($version) "* ]] && pass "$arch: the changelog's entry is $version" ||
    fail "$arch: the changelog starts \"$first\""

  qemu=$([ "$arch" = arm64 ] && echo qemu-aarch64-static || echo qemu-arm-static)
  tool=("$qemu" "$root/usr/bin/murvane-board")
  [ "$(dpkg --print-architecture)" = "$arch" ] && tool=("$root/usr/bin/murvane-board")
  said=$("${tool[@]}" --version)
  [ "$said" = "murvane-board v$version" ] && pass "$arch: the packaged tool says \"$said\"" ||
    fail "$arch: the packaged tool says \"$said\""
  same_options "$arch murvane-board" "$("${tool[@]}" --help | help_options)" \
    "$(zcat "$root/usr/share/man/man1/murvane-board.1.gz" | man_options)"
  complaints=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$root/usr/share/man/man1/murvane-board.1.gz" 2>&1 >/dev/null || true)
  [ -z "$complaints" ] && pass "$arch: man reads the page with no warning" || fail "$arch: man says: $complaints"
done

same_options "murvane-sim" "$("$sim" --help | help_options)" "$("$sim" --man-page | man_options)"
complaints=$("$sim" --man-page | LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l - 2>&1 >/dev/null || true)
[ -z "$complaints" ] && pass "murvane-sim: man reads its page with no warning" || fail "murvane-sim: man says: $complaints"

# lintian, every tag it has down to the informational ones and the
# overridden, shown here.
lintian --tag-display-limit 0 --show-overrides -I "$@" 2>&1 | grep -v '^running with root privileges' \
  >"$work/lintian.txt" || true
sed 's/^/  lintian: /' "$work/lintian.txt"
grep -q '^E: ' "$work/lintian.txt" && fail "lintian reports errors" || pass "lintian reports no error"
for tag in $(sed -n 's/^[WO]: [^:]*: \([a-z0-9-]*\).*/\1/p' "$work/lintian.txt" | sort -u); do
  echo "$kept" | grep -qx "$tag" && pass "lintian warning or override $tag: docs/board-bringup.md says why it stays" ||
    fail "lintian warns $tag (or it is overridden), which docs/board-bringup.md does not list with its reason"
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all checks passed"
