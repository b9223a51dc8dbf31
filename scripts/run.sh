#!/usr/bin/env bash
# The main job: builds Vellum and runs the example that shows what exists today.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh release
mkdir -p out
build/bin/core_tour out
