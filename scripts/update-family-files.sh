#!/usr/bin/env bash
# Regenerates every file that follows from the list of families and models
# (core/family_list.h), after a FAMILY or MODEL line was added: the golden
# traces of each family, its boot and its f0 measurement
# (scripts/update-golden.sh), the fuzz seeds
# (fuzz/make_corpus.py), and the figures and tables of the docs
# (scripts/update-docs-figures.sh: image size, the family and model tables,
# the worst-case bounds). Review `git status` and `git diff` before committing.
# It needs a host build with the firmware images and the benchmarks (like
# build/default): given one configured without them, it says so and changes
# nothing.
# Usage: scripts/update-family-files.sh [BUILD_DIR]   (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
if ! scripts/update-docs-figures.sh --can-measure "$build"; then
  echo "update-family-files: nothing was changed" >&2
  exit 2
fi
scripts/update-golden.sh "$build"
python3 fuzz/make_corpus.py
scripts/update-docs-figures.sh "$build"
