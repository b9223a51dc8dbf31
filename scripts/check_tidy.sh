#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: checks that find real faults) over the product's own
# sources, using the compile commands of a configured build folder.
#   scripts/check_tidy.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] || { echo "check_tidy: configure $build first" >&2; exit 2; }
folders='platform|common|vellum|vellumset|database|script|tools|host'
# GCC's own warning options are unknown to clang: not a finding.
run-clang-tidy -p "$build" -j "$(nproc)" -quiet -extra-arg=-Wno-unknown-warning-option \
  "^$PWD/($folders)/.*\\.cpp\$"
