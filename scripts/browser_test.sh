#!/usr/bin/env bash
# The browser test: serves a copy of the demo site (examples/site) with vellum-host and
# drives it in headless Chromium with puppeteer-core (tests/browser/drive_site.js): the
# front page, an upload through the gallery's form, the thumbnail it makes (upright, sent
# to Chromium as AVIF or WebP and decoded by it; as a JPEG to a client naming neither,
# decoded by Pillow), a banner and the source page. Screenshots and
# the host's log land in out/browser/. Bounded: the host and the browser get 5 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
[ -x build/bin/vellum-host ] || bash scripts/build.sh release

work=out/browser
rm -rf "$work"
mkdir -p "$work"
site=$work/site
cp -r examples/site "$site"
rm -f "$site"/data/*.db*

export VELLUM_REGISTRY=$PWD/$work/registry
for module in vellum vellumset vellumdb; do
  build/bin/vellum-regsvr "build/lib/lib$module.so" >/dev/null
done
# A landscape picture recording that the camera was held upright (EXIF orientation 6):
# the gallery shows it portrait.
convert -seed 7 -size 900x600 plasma:steelblue-orange "$work/upload.jpg"
/usr/bin/python3 -c 'import sys
from PIL import Image
image = Image.open(sys.argv[1])
exif = Image.Exif()
exif[0x0112] = 6
image.save(sys.argv[1], quality=90, exif=exif.tobytes())
' "$work/upload.jpg"

coproc HOST { exec timeout 300 build/bin/vellum-host --port 0 "$site" 2>"$work/host.log"; }
host_pid=$HOST_PID
trap 'kill "$host_pid" 2>/dev/null || true' EXIT
read -r -t 30 listening <&"${HOST[0]}"
base=${listening#listening on }
base=${base%/}
echo "browser test: $listening"

timeout 240 node tests/browser/drive_site.js "$base" "$work/upload.jpg" "$work"
/usr/bin/python3 -c 'import sys
from PIL import Image
image = Image.open(sys.argv[1])
image.load()
print("browser test: Pillow decodes the thumbnail (%s, %dx%d)" % (image.format, *image.size))
' "$work/thumbnail.jpg"

kill -TERM "$host_pid"
wait "$host_pid" || true
trap - EXIT
echo "browser test: screenshots and the host's log are in $work/"
