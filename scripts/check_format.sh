#!/usr/bin/env bash
# Fails when a C++ file of the tree is not laid out as .clang-format says.
#   scripts/check_format.sh          checks; scripts/check_format.sh --fix rewrites
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run -Werror "${files[@]}"
fi
