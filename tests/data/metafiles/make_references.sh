#!/usr/bin/env bash
# Makes the reference metafiles the tests compare against, with independent tools:
#   - LibreOffice Draw and Inkscape each export drawing.svg as EMF and WMF;
#   - Inkscape renders every one of those metafiles to PNG (its own reading);
#   - our writer stores input.png as ours.emf and ours.wmf, and Inkscape renders
#     those too, so the tests can check that an independent reader sees the
#     picture we wrote.
# Run once by hand (the outputs are committed); installs the two tools if missing.
# They are large, so scripts/setup.sh does not install them.
#   bash tests/data/metafiles/make_references.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)

missing=()
command -v soffice >/dev/null || missing+=(libreoffice-draw libreoffice-core)
command -v inkscape >/dev/null || missing+=(inkscape)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"  # LibreOffice keeps a profile there
mkdir -p "$HOME"
cd "$work"
cp "$here/drawing.svg" .

# The exports.
soffice --headless --convert-to emf --outdir lo drawing.svg >/dev/null 2>&1
soffice --headless --convert-to wmf --outdir lo drawing.svg >/dev/null 2>&1
cp lo/drawing.emf "$here/lo-drawing.emf"
cp lo/drawing.wmf "$here/lo-drawing.wmf"
inkscape drawing.svg --export-filename="$here/ink-drawing.emf" >/dev/null 2>&1
inkscape drawing.svg --export-filename="$here/ink-drawing.wmf" >/dev/null 2>&1

# A small photograph-like test image for the writers: colour blocks and a ramp.
/usr/bin/python3 - "$here/input.png" <<'PY'
import sys
from PIL import Image
image = Image.new("RGB", (64, 48))
for y in range(48):
    for x in range(64):
        if y < 16:
            color = [(220, 30, 30), (30, 160, 60), (40, 60, 200), (250, 200, 0)][x // 16]
        else:
            color = (x * 4, (y - 16) * 8, 255 - x * 4)
        image.putpixel((x, y), color)
image.save(sys.argv[1])
PY
convert "$here/input.png" input.ppm
bash "$root/scripts/build.sh" release >/dev/null
"$root/build/bin/metafile_tour" write input.ppm "$here" >/dev/null

# Inkscape's reading of every metafile.
for file in lo-drawing.emf lo-drawing.wmf ink-drawing.emf ink-drawing.wmf ours.emf ours.wmf; do
  inkscape "$here/$file" --export-type=png --export-filename="$here/$file.png" >/dev/null 2>&1
  /usr/bin/python3 -c "
from PIL import Image; import sys
Image.open(sys.argv[1]).convert('RGB').save(sys.argv[1], optimize=True)" "$here/$file.png"
done

# LibreOffice's reading of our files, for the record: it places a picture on a
# page, so its rendering is trimmed to the picture before comparing.
for file in ours.emf ours.wmf; do
  soffice --headless --convert-to png --outdir lo-read "$here/$file" >/dev/null 2>&1
  base=${file%.*}
  convert "lo-read/$base.png" -trim +repage -resize 64x48\! "lo-$file.ppm"
  /usr/bin/python3 - "lo-$file.ppm" "$here/input.png" "$file" <<'PY'
import sys
from PIL import Image, ImageChops
ours, original = Image.open(sys.argv[1]).convert("RGB"), Image.open(sys.argv[2]).convert("RGB")
diff = ImageChops.difference(ours, original).getextrema()
print(f"LibreOffice reads {sys.argv[3]}: largest channel difference per channel {diff}")
PY
done
ls -l "$here"
