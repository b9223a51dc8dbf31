"""Pillow's nearest equivalents of bench/operations_bench.cpp, on the same photograph."""
from PIL import Image, ImageFilter

from pillow_timing import data_path, measure


def main():
    photo = Image.open(data_path("medium.ppm"))
    photo.load()
    width, height = photo.size
    filters = {"nearest": Image.Resampling.NEAREST, "bilinear": Image.Resampling.BILINEAR,
               "bicubic": Image.Resampling.BICUBIC, "lanczos": Image.Resampling.LANCZOS}
    for name, resample in filters.items():
        for direction, factor in (("down", 0.5), ("up", 2.0)):
            size = (int(width * factor), int(height * factor))
            measure(f"resize {name.upper()} {direction}", f"Resize/{name}_{direction}",
                    lambda: photo.resize(size, resample))
    measure("rotate 45 expand", "Rotate45", lambda: photo.rotate(45, expand=True))
    measure("filter SHARPEN", "Neighbourhood/sharpen", lambda: photo.filter(ImageFilter.SHARPEN))
    measure("filter BLUR", "Neighbourhood/blur", lambda: photo.filter(ImageFilter.BLUR))
    curve = [int(256 * (v / 256) ** (1 / 1.5)) for v in range(256)] * 3
    measure("point", "Brightness", lambda: photo.point(curve))
    mask = photo.convert("L")
    target = photo.transpose(Image.Transpose.ROTATE_180)
    measure("paste with mask", "MaskedOverlay", lambda: target.paste(photo, (0, 0), mask))


if __name__ == "__main__":
    main()
