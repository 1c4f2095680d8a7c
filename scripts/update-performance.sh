#!/usr/bin/env bash
# Re-measures the host CPU figures of docs/performance.md (the part between
# the "bench:begin" and "bench:end" markers): builds murvane-bench, runs it
# with --markdown and puts its table in place; then brings the figures the
# build determines up to date (scripts/update-docs-figures.sh). Review
# `git diff docs` afterwards.
# Usage: scripts/update-performance.sh [BUILD_DIR]   (default: build/default,
# an optimised build; a Debug build gives CPU times that mean little)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ "$build" != "build/default" ]; then
    echo "update-performance: $build is not a configured build directory" >&2
    exit 1
  fi
  cmake --preset default >/dev/null
fi
cmake --build "$build" --target murvane-bench >/dev/null

doc=docs/performance.md
tables="$(mktemp)"
trap 'rm -f "$tables" "$tables.new"' EXIT
{
  echo "Measured at commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown) by"
  echo "\`scripts/update-performance.sh\`, which runs \`$build/bench/murvane-bench --markdown\`."
  echo
  "$build/bench/murvane-bench" --markdown 2>/dev/null
} >"$tables"

awk -v tables="$tables" '
  /<!-- bench:begin -->/ { print; while ((getline line < tables) > 0) print line; skipping = 1; next }
  /<!-- bench:end -->/ { skipping = 0 }
  !skipping { print }
' "$doc" >"$tables.new"
grep -q "<!-- bench:end -->" "$tables.new" || { echo "update-performance: markers missing in $doc" >&2; exit 1; }
mv "$tables.new" "$doc"
echo "updated $doc (CPU times)"
./scripts/update-docs-figures.sh "$build"
