#!/usr/bin/env bash
# The C and C++ code's format, held to .clang-format on every line changed since the
# formatter came in (FORMAT_BASE below); older lines keep their hand layout until they
# are touched, so a change never drags unrelated reformatting into its diff.
#
#   scripts/format.sh         prints what clang-format would change and fails (status 1)
#   scripts/format.sh --fix   changes those lines in place
#
# Skipped (status 77, with the reason) outside a git checkout that has the base commit,
# e.g. a shallow clone or an unpacked archive.
set -euo pipefail
cd "$(dirname "$0")/.."

# main just before the refactor that introduced .clang-format.
FORMAT_BASE=fb3e63a

formatter=clang-format-diff
command -v "$formatter" >/dev/null || formatter=clang-format-diff-14
command -v "$formatter" >/dev/null || { echo "format: clang-format-diff is not installed (make deps)" >&2; exit 1; }
if ! git rev-parse --git-dir >/dev/null 2>&1 || ! git cat-file -e "$FORMAT_BASE^{commit}" 2>/dev/null; then
  echo "format: skipped: not a git checkout with commit $FORMAT_BASE" >&2
  exit 77
fi

# Renames count as renames (-M), so a moved file brings only its changed lines.
changes() {
  git diff -U0 -M --no-color --no-ext-diff "$FORMAT_BASE" -- \
    '*.c' '*.cpp' '*.h' ':(exclude)src/math/crmath_tables.h'
}

if [ "${1:-}" = --fix ]; then
  changes | "$formatter" -p1 -i
  exit 0
fi
out=$(changes | "$formatter" -p1)
if [ -n "$out" ]; then
  printf '%s\n' "$out"
  echo "format: the lines above differ from .clang-format (scripts/format.sh --fix changes them)" >&2
  exit 1
fi
echo "format: every changed line follows .clang-format"
