#!/usr/bin/env bash
# The main job: builds Vellum, runs the example that shows the imaging core, registers
# the Vellum server and the database module in a registry under out/, and runs scripts
# that create the objects by their ProgIDs: the image generator's properties, a folder
# of sample pictures converted between formats, the same pictures stored in an
# SQLite database and fetched back from it, and thumbnails edited on the fly and kept
# in an image collection. Then it starts the web page host on the demo site
# (examples/site, .asp pages), uploads a picture to its gallery, fetches its pages into
# out/site/ and stops it; with VELLUM_SERVE=1 the host keeps serving in the foreground
# instead.
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
build/bin/vellum-script examples/convert_images.js out/converted webp "$samples"/*
build/bin/vellum-script examples/convert_images.js out/converted avif "$samples"/*
build/bin/vellum-script examples/image_database.js out/images.db store "$samples"/*
build/bin/vellum-script examples/image_database.js out/images.db fetch out/fetched
build/bin/vellum-script examples/image_database.js out/images.db sizes
build/bin/vellum-script examples/edit_images.js out/edited "$samples"/*

# The web page host on the demo site (examples/site): its pages fetched with curl, and a
# picture uploaded to its gallery when the gallery is empty.
mkdir -p out/site
# Development mode: a page that fails shows its script error.
if [ "${VELLUM_SERVE:-0}" = 1 ]; then
  exec build/bin/vellum-host --development --port "${VELLUM_PORT:-8080}" examples/site
fi
rm -f out/site/*
hostlog=out/site-host.log
coproc HOST {
  exec build/bin/vellum-host --development --port 0 --access-log out/site-access.log \
    examples/site 2>"$hostlog"
}
host_pid=$HOST_PID
trap 'kill "$host_pid" 2>/dev/null || true' EXIT
read -r -t 20 listening <&"${HOST[0]}"
echo "$listening"
base=${listening#listening on }
fetch() {  # fetch FILE PATH [CURL ARGS...]: status, content type and size of what the page sent
  local file=$1 page=$2
  shift 2
  curl -sS -o "out/site/$file" -w "%{http_code}|%{content_type}|%{size_download}" "$@" "$base$page" |
    awk -F'|' -v file="out/site/$file" -v page="/$page" \
      '{ printf "%-26s %-60s %s %-26s %6s bytes\n", file, page, $1, $2, $3 }'
}
picture="$samples/$(ls "$samples" | head -n 1)"
if curl -sS "${base}gallery.asp" | grep -q "No pictures yet"; then
  fetch upload.html "gallery.asp" -F "picture=@$picture" -F "title=A sample picture"
fi
fetch index.html ""
fetch gallery.html "gallery.asp"
fetch thumb.jpg "thumb.asp?id=1"
fetch banner.png "banner.asp?text=Hello%2C+Vellum"
fetch banner-serif.png "banner.asp?text=Pictures+on+the+fly&font=Liberation+Serif&from=203040&to=60C0F0"
fetch chart.png "chart.asp?values=3,7,4,9,6,2&labels=Mon,Tue,Wed,Thu,Fri,Sat&title=Visits"
fetch source.html "source.asp?page=/gallery.asp"
fetch missing.html "no-such-page.asp"
kill -TERM "$host_pid"
wait "$host_pid"
trap - EXIT
echo "host stopped; its logs are $hostlog and out/site-access.log"
