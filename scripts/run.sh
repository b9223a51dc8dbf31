#!/usr/bin/env bash
# The main job: builds Vellum, runs the example that shows the imaging core, registers
# the Vellum server and the database module in a registry under out/, and runs scripts
# that create the objects by their ProgIDs: the image generator's properties, a folder
# of sample pictures converted between formats, the same pictures stored in an
# SQLite database and fetched back from it, and thumbnails edited on the fly and kept
# in an image collection.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh release
mkdir -p out
build/bin/core_tour out

export VELLUM_REGISTRY=$PWD/out/registry
build/bin/vellum-regsvr build/lib/libvellum.so
build/bin/vellum-regsvr build/lib/libvellumdb.so
build/bin/vellum-regsvr build/lib/libvellumset.so
build/bin/vellum-script examples/easel_properties.js

# Sample pictures: small copies of the photographs kept beside the checkout, or
# drawn ones when they are not there.
checkout=$(dirname "$(git rev-parse --path-format=absolute --git-common-dir 2>/dev/null || echo "$PWD/.git")")
images=${VELLUM_IMAGES:-$checkout/../shared/images}
samples=out/samples
rm -rf "$samples" out/converted out/fetched out/edited out/images.db
mkdir -p "$samples" out/converted out/fetched out/edited
if [ -f "$images/medium.jpg" ] && [ -f "$images/large.jpg" ]; then
  convert "$images/medium.jpg" -resize 320x "$samples/blinds.jpg"
  convert "$images/large.jpg" -resize 400x "$samples/kleiber.png"
  convert "$images/medium.jpg" -resize 160x -colors 64 "$samples/blinds-small.gif"
else
  convert -size 320x200 gradient:navy-orange "$samples/gradient.jpg"
  convert -size 200x200 radial-gradient:white-teal "$samples/radial.png"
  convert -size 160x100 gradient:red-yellow -colors 64 "$samples/small.gif"
fi

build/bin/vellum-script examples/convert_images.js out/converted png "$samples"/*
build/bin/vellum-script examples/convert_images.js out/converted gif 8 "$samples"/*
build/bin/vellum-script examples/image_database.js out/images.db store "$samples"/*
build/bin/vellum-script examples/image_database.js out/images.db fetch out/fetched
build/bin/vellum-script examples/image_database.js out/images.db sizes
build/bin/vellum-script examples/edit_images.js out/edited "$samples"/*
