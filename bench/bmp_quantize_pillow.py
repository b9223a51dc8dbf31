"""Pillow's counterparts of bench/bmp_quantize_bench.cpp, on the same photograph."""
import io

from PIL import Image

from pillow_timing import data_path, measure


def main():
    photo = Image.open(data_path("medium.ppm"))
    photo.load()
    measure("quantize(256) FLOYDSTEINBERG", "QuantizeOctree256",
            lambda: photo.quantize(256, dither=Image.Dither.FLOYDSTEINBERG))

    def save():
        out = io.BytesIO()
        photo.save(out, "BMP")
        return out.getvalue()

    measure("save BMP", "WriteBmp24", save)
    encoded = save()

    def load():
        image = Image.open(io.BytesIO(encoded))
        image.load()

    measure("open + load BMP", "ReadBmp24", load)


if __name__ == "__main__":
    main()
