#!/usr/bin/env bash
# Regenerates the member reference (docs/reference) from the type libraries of the
# modules and the notes beside each library's description (vellum/reference_notes.md,
# ...). Run it after changing a type library or its notes, and commit the result: the
# test Reference.UpToDate fails while the checked-in reference differs.
#   scripts/reference.sh            writes docs/reference
#   scripts/reference.sh --check    only compares
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ "${1:-}" = "--check" ]; then
  cmake --build build --target vellum-reference vellum vellumset vellumdb pages-library >/dev/null
  ctest --test-dir build -R '^Reference\.' --output-on-failure
else
  cmake --build build --target reference
fi
