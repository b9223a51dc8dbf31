"""References for bench/webp_avif_bench.cpp on the same photograph and files: Pillow for
WebP (through libwebp), and for AVIF, which Debian's Pillow cannot read or write,
avifenc and avifdec (libavif, the same AV1 encoder and decoder) timed as processes.
The tools' times include starting a process and, for avifenc, reading a PNG; the
sizes of the files each side makes go to standard error."""
import io
import os
import subprocess
import sys
import tempfile

from PIL import Image

from pillow_timing import data_path, measure

WEBP_QUALITY = 75
AVIF_QUALITY = 60
# The quantizer our AVIF writer derives from its quality: 63 at 0, falling linearly.
AVIF_QUANTIZER = (100 - AVIF_QUALITY) * 63 // 100


def size_note(name, size):
    print("%s: %d bytes" % (name, size), file=sys.stderr)


def webp(photo):
    for ours, options in (("BM_Encode/WebpLossy", {"quality": WEBP_QUALITY}),
                          ("BM_Encode/WebpLossless", {"lossless": True, "quality": 75})):
        out = io.BytesIO()
        photo.save(out, "WEBP", method=4, **options)
        size_note("pillow " + ours, len(out.getvalue()))
        measure("pillow webp encode", ours,
                lambda options=options: photo.save(io.BytesIO(), "WEBP", method=4, **options))
    path = data_path("medium-vellum.webp")
    if os.path.exists(path):
        data = open(path, "rb").read()
        measure("pillow webp decode", "BM_Decode/Webp",
                lambda: Image.open(io.BytesIO(data)).convert("RGB").load())


def avif(photo, folder):
    png = os.path.join(folder, "medium.png")
    photo.save(png, compress_level=1)
    out = os.path.join(folder, "out.avif")
    encode = ["avifenc", "-j", "1", "-s", "6", "-y", "420", "--min", str(AVIF_QUANTIZER),
              "--max", str(AVIF_QUANTIZER), png, out]
    measure("avifenc", "BM_Encode/Avif",
            lambda: subprocess.run(encode, check=True, stdout=subprocess.DEVNULL))
    size_note("avifenc", os.path.getsize(out))
    path = data_path("medium-vellum.avif")
    if os.path.exists(path):
        # Raw YUV out: the tool does less than our decoding to RGB.
        decode = ["avifdec", "-j", "1", path, os.path.join(folder, "out.y4m")]
        measure("avifdec", "BM_Decode/Avif",
                lambda: subprocess.run(decode, check=True, stdout=subprocess.DEVNULL))


def main():
    photo = Image.open(data_path("medium.ppm"))
    photo.load()
    webp(photo)
    with tempfile.TemporaryDirectory() as folder:
        avif(photo, folder)


if __name__ == "__main__":
    main()
