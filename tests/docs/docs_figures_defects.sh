#!/usr/bin/env bash
# The docs' figures check (scripts/update-docs-figures.sh --check, the
# docs_figures test) finds what it is there to find: in a scratch copy of
# the script and the pages, a family table with one cell changed and a CPU
# table that lacks a family's row must fail the check, the first shown as
# the committed line against the measured one, the second by name; nothing
# is written.
# usage: docs_figures_defects.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: docs_figures_defects.sh SOURCE_DIR BUILD_DIR WORK_DIR" >&2
  exit 2
fi
src="$1" build="$2" work="$3"
rm -rf "$work"
tree="$work/tree"
mkdir -p "$tree/scripts" "$tree/docs" "$tree/core"
cp "$src/scripts/update-docs-figures.sh" "$tree/scripts/"
cp "$src"/docs/{performance,reliability,porting,models}.md "$tree/docs/"
cp "$src/core/family_list.h" "$tree/core/"

# Family B's qualification bit, moved; the last family's CPU row, gone.
row=$(grep -m1 '^| B | `families/' "$tree/docs/models.md")
changed=${row/bit 7 |/bit 6 |}
[ "$changed" != "$row" ] || { echo "FAIL: no qualification bit in family B's row: $row"; exit 1; }
python3 - "$tree/docs/models.md" "$row" "$changed" <<'EOF'
import sys
path, row, changed = sys.argv[1:]
text = open(path).read()
open(path, "w").write(text.replace(row + "\n", changed + "\n", 1))
EOF
last=$(sed -n 's/^  FAMILY(\([a-z0-9]*\), [A-Z]) \\$/\1/p' "$tree/core/family_list.h" | tail -n 1)
grep -q "^| $last | " "$tree/docs/performance.md" || { echo "FAIL: no CPU row for $last"; exit 1; }
sed -i "/^| $last | [0-9.]* us | /d" "$tree/docs/performance.md"
cp -r "$tree/docs" "$work/docs-before"

status=0
bash "$tree/scripts/update-docs-figures.sh" --check "$build" >"$work/out.txt" 2>&1 || status=$?
failures=0
expect() {
  if grep -qxF -- "$1" "$work/out.txt"; then
    echo "ok:   shows: $1"
  else
    echo "FAIL: no line \"$1\""
    failures=$((failures + 1))
  fi
}
expect "docs/models.md: figures differ from what $build measures (- committed, + measured):"
expect "-$changed"
expect "+$row"
if grep -q "^docs/performance.md: the CPU table's rows are .*but the families are .*$last" "$work/out.txt"; then
  echo "ok:   names the CPU table's missing row ($last)"
else
  echo "FAIL: the CPU table's missing row ($last) is not named"
  failures=$((failures + 1))
fi
if [ $status -eq 1 ]; then
  echo "ok:   exit 1"
else
  echo "FAIL: the check exits $status, not 1"
  failures=$((failures + 1))
fi
if diff -r "$work/docs-before" "$tree/docs" >/dev/null; then
  echo "ok:   nothing written"
else
  echo "FAIL: --check changed the pages"
  failures=$((failures + 1))
fi
if [ $failures -ne 0 ]; then
  echo "---- update-docs-figures.sh --check on the broken copy ----"
  cat "$work/out.txt"
  exit 1
fi
echo "both planted differences were found"
