#!/usr/bin/env bash
# The main job: builds Vellum, runs the example that shows the imaging core, registers
# the Vellum server in a registry under out/ and runs a script that creates the image
# generator by its ProgID.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh release
mkdir -p out
build/bin/core_tour out

export VELLUM_REGISTRY=$PWD/out/registry
build/bin/vellum-regsvr build/lib/libvellum.so
build/bin/vellum-script examples/easel_properties.js
