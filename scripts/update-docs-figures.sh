#!/usr/bin/env bash
# Writes every figure of the docs that the build determines, from the build:
#   docs/performance.md  the image size and its sections (Murvane.efi), and
#                        the modeled bring-up table (murvane-bench --modeled);
#   docs/reliability.md  the fault sweep's runs per model and call
#                        (murvane-bench --sweep-table), its failed-transfer
#                        runs that left a protocol violation (the sweep's
#                        runs, one model a family: murvane-doc-tables
#                        sweep-violations), the terms of every bring-up
#                        (murvane-doc-tables bring-up-terms) and the
#                        worst-case bound tables (murvane-doc-tables
#                        worst-case);
#   docs/porting.md      the worst-case bring-up time per family;
#   docs/models.md       the family and model tables, from core/family_list.h
#                        and the chip models' facts.
# Every table that lists the families has a row or column per entry of the
# list, however many: after a new FAMILY or MODEL line, this one command
# brings the pages up to date.
# Each figure sits between "<!-- figures:NAME:begin -->" and
# "<!-- figures:NAME:end -->"; nothing outside the markers is touched.
# CPU times vary with the host: scripts/update-performance.sh measures them.
#
# usage: scripts/update-docs-figures.sh [--check | --can-measure] [BUILD_DIR]   (default build/default)
#   --check        build nothing and write nothing: fail, showing each differing
#                  figure, when the committed docs differ from what BUILD_DIR
#                  measures (the docs_figures test)
#   --can-measure  only say whether BUILD_DIR can give every figure: a host
#                  build with the firmware images and the benchmarks (exit 2,
#                  naming the option that is off, when it cannot)
set -euo pipefail
cd "$(dirname "$0")/.."

check=0 can_measure=0
case "${1:-}" in
  --check) check=1; shift ;;
  --can-measure) can_measure=1; shift ;;
esac
build="${1:-build/default}"
# The image size needs the firmware images, the tables the benchmarks: a
# build configured without them cannot give the figures.
if [ -f "$build/CMakeCache.txt" ]; then
  for option in MURVANE_FIRMWARE MURVANE_BENCH MURVANE_TESTS; do
    if grep -q "^$option:BOOL=OFF$" "$build/CMakeCache.txt"; then
      echo "update-docs-figures: $build is configured with $option=OFF; the docs' figures need the firmware" \
        "images, the benchmarks and the doc tables (a build like build/default)" >&2
      exit 2
    fi
  done
fi
if [ $can_measure -eq 1 ]; then
  exit 0
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ "$build" != "build/default" ] || [ $check -eq 1 ]; then
    echo "update-docs-figures: $build is not a configured build directory" >&2
    exit 1
  fi
  cmake --preset default >/dev/null
fi
if [ $check -eq 0 ]; then
  cmake --build "$build" --target murvane-bench murvane_efi_images murvane-doc-tables >&2
fi

image="$build/efi/images/Murvane.efi"
bench="$build/bench/murvane-bench"
tables="$build/tests/murvane-doc-tables"
readobj=$(command -v llvm-readobj-14 || command -v llvm-readobj || true)
for f in "$image" "$bench" "$tables"; do
  [ -f "$f" ] || { echo "update-docs-figures: $f is missing: build $build first" >&2; exit 1; }
done
[ -n "$readobj" ] || { echo "update-docs-figures: llvm-readobj-14 not found (scripts/deps.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- The image: size and sections ---------------------------------------
goal=16384
size=$(stat -c %s "$image")
headers=$("$readobj" --file-headers "$image" | awk '/SizeOfHeaders:/ { print $2 }')
relocs=$("$readobj" --coff-basereloc "$image" | grep -c 'Type: DIR64' || true)
{
  if [ "$size" -le "$goal" ]; then
    verdict="$((goal - size)) bytes under the goal"
  else
    verdict="$((size - goal)) bytes OVER the goal"
  fi
  kib=$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1024 }')
  echo "The goal for \`Murvane.efi\` is at most 16 KiB ($goal bytes) on disk: it is"
  echo "$size bytes ($kib KiB), all $("$tables" family-count) families in, $verdict."
  echo
  echo "| Part | In memory | In the file |"
  echo "|---|---|---|"
  echo "| headers (DOS stub, PE headers, section headers) | | $headers |"
  "$readobj" --sections "$image" | awk '
    /^    Name: / { name = $2 }
    /^    VirtualSize: / { vs = $2 }
    /^    RawDataSize: / { print name, vs, $2 }' | while read -r name vs raw; do
    case "$name" in
      .text) what="\`.text\` (code)" ;;
      .rdata) what="\`.rdata\` (constants)" ;;
      .data) what="\`.data\` (driver state; the loader zero-fills what the file does not hold)" ;;
      .reloc) what="\`.reloc\` ($relocs base relocations)" ;;
      *) what="\`$name\`" ;;
    esac
    echo "| $what | $((vs)) | $raw |"
  done
  echo "| **total** | | **$size bytes** |"
} >"$work/image"

# --- Modeled bring-up times ----------------------------------------------
"$bench" --modeled >"$work/modeled"

# --- The fault sweep's runs ---------------------------------------------
"$bench" --sweep-table >"$work/sweep"

# --- Tables of every family and model -----------------------------------
# The tables that list every family or model: from core/family_list.h, the
# chip models' facts, the worst-case paths and the fault sweep's runs.
for block in bounds bring-up-terms worst-case sweep-violations families models; do
  case "$block" in
    bounds) what=bring-up-bounds ;;
    *) what=$block ;;
  esac
  "$tables" "$what" >"$work/$block"
done

fill() {
  local page="$1" name="$2" content="$3" out="$4"
  awk -v content="$content" -v begin="<!-- figures:$name:begin -->" -v end="<!-- figures:$name:end -->" '
    $0 == begin { print; while ((getline line < content) > 0) print line; skipping = 1; found = 1; next }
    $0 == end { skipping = 0; closed = 1 }
    !skipping { print }
    END { if (!found || !closed) exit 3 }' "$page" >"$out" || {
    echo "update-docs-figures: markers of \"$name\" missing in $page" >&2
    exit 1
  }
}

status=0
for page in docs/performance.md docs/reliability.md docs/porting.md docs/models.md; do
  base=$(basename "$page")
  cp "$page" "$work/$base"
  case "$page" in
    docs/performance.md) blocks="image modeled" ;;
    docs/reliability.md) blocks="sweep-violations sweep bring-up-terms worst-case" ;;
    docs/porting.md) blocks="bounds" ;;
    docs/models.md) blocks="families models" ;;
  esac
  for block in $blocks; do
    fill "$work/$base" "$block" "$work/$block" "$work/$base.next"
    mv "$work/$base.next" "$work/$base"
  done
  if cmp -s "$page" "$work/$base"; then
    continue
  fi
  if [ $check -eq 1 ]; then
    echo "$page: figures differ from what $build measures (- committed, + measured):"
    diff -u "$page" "$work/$base" | tail -n +3 | grep '^[-+]' || true
    status=1
  else
    cp "$work/$base" "$page"
    echo "updated $page" >&2
  fi
done
if [ $status -ne 0 ]; then
  echo
  echo "Fix: scripts/update-docs-figures.sh $build   (then review git diff docs and commit)"
fi

# --- The CPU table's rows ------------------------------------------------
# Its times vary with the host, so only scripts/update-performance.sh writes
# it; but it must have a row per family of the list, in the list's order.
families=$(sed -n 's/^  FAMILY(\([a-z0-9]*\), [A-Z]) \\$/\1/p' core/family_list.h | tr '\n' ' ')
cpu_rows=$(awk '/<!-- bench:begin -->/ { on = 1 } /<!-- bench:end -->/ { on = 0 }
  on && /^\| Family \| CPU per bring-up/ { rows = 1; next } rows && /^\|---/ { next }
  rows && /^\| / { printf "%s ", $2; next } rows { rows = 0 }' docs/performance.md)
if [ "$cpu_rows" != "$families" ]; then
  echo "docs/performance.md: the CPU table's rows are ${cpu_rows:-none}but the families are $families"
  echo "Fix: scripts/update-performance.sh $build   (it measures the CPU times; then review git diff docs)"
  if [ $check -eq 1 ]; then
    status=1
  fi
fi
exit $status
