"""Pillow on the inputs of bench/jpeg_png_tiff_bench.cpp: the JPEG photograph, its
pixels, and the PNG and TIFF files the benchmark program wrote from them."""
import io
import os

from PIL import Image

from pillow_timing import data_path, measure


def decode(data):
    return lambda: Image.open(io.BytesIO(data)).convert("RGB").load()


def encode(image, file_format, **options):
    return lambda: image.save(io.BytesIO(), file_format, **options)


def main():
    photo = Image.open(data_path("medium.ppm"))
    photo.load()
    jpeg = open(data_path("medium.jpg"), "rb").read()
    measure("pillow jpeg decode", "BM_JpegDecode", decode(jpeg))
    measure("pillow jpeg q70", "BM_JpegEncode/Baseline", encode(photo, "JPEG", quality=70))
    measure("pillow jpeg q70 progressive", "BM_JpegEncode/Progressive",
            encode(photo, "JPEG", quality=70, progressive=True))
    measure("pillow png encode", "BM_PngEncode/Plain", encode(photo, "PNG"))
    measure("pillow tiff encode", "BM_TiffEncode", encode(photo, "TIFF"))
    for name, ours in (("png", "BM_PngDecode"), ("tif", "BM_TiffDecode")):
        path = data_path("medium-vellum." + name)
        if os.path.exists(path):
            measure("pillow %s decode" % name, ours, decode(open(path, "rb").read()))


if __name__ == "__main__":
    main()
