"""Pillow's side of the benchmark suites (bench/run.py; protocol in bench/support/suite.h),
and Python's dict as the Dictionary's peer.

Each operation does the work its namesake in bench/vellum_suite.cpp or
bench/script_suite.cpp does. Where Pillow cannot (PNG with Adam7 interlacing, writing the
layered format, AVIF, which Debian's Pillow lacks), the operation is left out and the
table says so. Resizes that Vellum samples at points (bilinear, bicubic) go through an
affine transform, which samples the same way; Pillow's resize() widens its filter when
shrinking, as Vellum's filtered resize (Lanczos3, Catmull-Rom) does.
"""
import io
import json
import os
import sys
import time

from PIL import Image, ImageFilter

DATA = os.environ.get("VELLUM_BENCH_DATA", "bench-data")
MIN_SECONDS = 0.02


def path(name):
    return os.path.join(DATA, name)


_photos = {}


def photo(name):
    if name not in _photos:
        image = Image.open(path(name + ".ppm"))
        image.load()
        _photos[name] = image
    return _photos[name]


def file_bytes(name):
    with open(path(name), "rb") as f:
        return f.read()


def decode(data):
    image = Image.open(io.BytesIO(data))
    image.load()
    return image


def load(data):
    decode(data)


def load_rgb(data):
    decode(data).convert("RGB")


def encode(image, fmt, **options):
    out = io.BytesIO()
    image.save(out, fmt, **options)
    return len(out.getvalue())


def index_image(rgb):
    """Index = the top 3 bits of red, 3 of green and 2 of blue (bench_vellum.cpp's)."""
    lut = [v & 0xE0 for v in range(256)] + [(v & 0xE0) >> 3 for v in range(256)] + \
          [v >> 6 for v in range(256)]
    r, g, b = rgb.point(lut).split()
    from PIL import ImageChops
    indices = ImageChops.add(ImageChops.add(r, g), b)
    image = Image.frombytes("P", rgb.size, indices.tobytes())
    image.putpalette([c for i in range(256)
                      for c in (i & 0xE0, (i & 0x1C) << 3, (i & 0x03) << 6)])
    return image


def scaled(image, factor):
    return (int(image.size[0] * factor), int(image.size[1] * factor))


def point_sampled(image, factor, resample):
    """A resize that samples each output pixel's point with the filter, as Vellum's
    bilinear and bicubic resizes do (no widening of the filter when shrinking)."""
    size = scaled(image, factor)
    sx = image.size[0] / size[0]
    sy = image.size[1] / size[1]
    return image.transform(size, Image.Transform.AFFINE, (sx, 0, 0, 0, sy, 0), resample)


def kernel_3x3(centre, neighbour, scale):
    weights = [neighbour] * 9
    weights[4] = centre
    return ImageFilter.Kernel((3, 3), weights, scale)


def default_palette_image():
    data = file_bytes("default-palette.bin")  # 256 x (r, g, b), written by Vellum's suite
    image = Image.new("P", (1, 1))
    image.putpalette(data)
    return image


def operations():
    """op -> (prepare(photo name) -> state, work(state) -> bytes or None)."""
    ops = {}

    def add(name, prepare, work, peer=None):
        ops[name] = (prepare, work, peer)

    same = photo
    add("jpeg.decode", lambda p: file_bytes(p + ".jpg"), load)
    for suffix, options in (("", {}), (".progressive", {"progressive": True})):
        add("jpeg.encode.q70" + suffix, same,
            lambda image, o=options: encode(image, "JPEG", quality=70, **o))
    add("png.encode", same, lambda image: encode(image, "PNG"))
    add("png.decode.adam7", lambda p: file_bytes(p + "-vellum-adam7.png"),
        load)
    add("tiff.decode", lambda p: file_bytes(p + "-vellum.tif"), load)
    add("tiff.encode", same, lambda image: encode(image, "TIFF"))
    add("bmp.decode", lambda p: file_bytes(p + "-vellum.bmp"), load)
    add("bmp.encode", same, lambda image: encode(image, "BMP"))
    # Pillow's GIF decoder stops at palette indices; ReadGIF returns RGB, so the
    # expansion through the palette is part of the same work on both sides.
    add("gif.decode", lambda p: file_bytes(p + "-vellum.gif"), load_rgb)
    add("gif.encode", lambda p: index_image(photo(p)), lambda image: encode(image, "GIF"))
    add("pcx.decode", lambda p: file_bytes(p + "-vellum.pcx"), load)
    add("pcx.encode", same, lambda image: encode(image, "PCX"))
    add("psd.decode", lambda p: file_bytes(p + "-vellum.psd"), load)
    # libwebp's defaults at method 4, as Vellum's writer uses them; 75 is also the
    # quality libwebp's lossless mode takes as its effort.
    add("webp.encode.q75", same, lambda image: encode(image, "WEBP", quality=75, method=4))
    add("webp.encode.lossless", same,
        lambda image: encode(image, "WEBP", lossless=True, quality=75, method=4))
    add("webp.decode", lambda p: file_bytes(p + "-vellum.webp"), load)
    for direction, factor in (("down", 0.5), ("up", 2.0)):
        add(f"resize.nearest.{direction}", same,
            lambda image, f=factor: image.resize(scaled(image, f), Image.Resampling.NEAREST))
        add(f"resize.bilinear.{direction}", same,
            lambda image, f=factor: point_sampled(image, f, Image.Resampling.BILINEAR))
        add(f"resize.bicubic.{direction}", same,
            lambda image, f=factor: point_sampled(image, f, Image.Resampling.BICUBIC))
        add(f"resize.lanczos3.{direction}", same,
            lambda image, f=factor: image.resize(scaled(image, f), Image.Resampling.LANCZOS))
    add("resize.catmullrom.down", same,
        lambda image: image.resize(scaled(image, 0.5), Image.Resampling.BICUBIC))
    add("rotate.45", same, lambda image: image.rotate(45, expand=True))
    # Level 50: sharpen 3c - 0.25 S, blur (8c + S) / 16.
    add("sharpen.3x3", same, lambda image: image.filter(kernel_3x3(12, -1, 4)))
    add("blur.3x3", same, lambda image: image.filter(kernel_3x3(8, 1, 16)))
    curve = [min(255, int(256 * (v / 256) ** (1 / 1.5))) for v in range(256)] * 3
    add("brightness", same, lambda image: image.point(curve))
    add("overlay.mask",
        lambda p: (photo(p).transpose(Image.Transpose.ROTATE_180), photo(p), photo(p).convert("L")),
        lambda s: s[0].paste(s[1], (0, 0), s[2]))
    add("quantize.octree.dither", same,
        lambda image: image.quantize(
            palette=image.quantize(256, method=Image.Quantize.FASTOCTREE),
            dither=Image.Dither.FLOYDSTEINBERG))
    add("dither.palette", lambda p: (photo(p), default_palette_image()),
        lambda s: s[0].quantize(palette=s[1], dither=Image.Dither.FLOYDSTEINBERG))

    # SaveImage's JPEG: quality 70, progressive, the encoder's default 4:2:0 subsampling.
    def load_save(data):
        return encode(decode(data), "JPEG", quality=70, progressive=True)

    add("page.load-save-jpeg", lambda p: file_bytes(p + ".jpg"), load_save)

    def thumbnail(p):
        image = Image.open(path(p + ".jpg"))
        height = 150
        width = image.size[0] * height // image.size[1] + 1
        image.draft("RGB", (width * 2, height * 2))
        image.thumbnail((width, height))
        return None

    add("thumbnail.jpeg", lambda p: p, thumbnail)

    count = 80000
    keys = [f"key-{i}" for i in range(count)]

    def filled():
        d = {}
        for i, k in enumerate(keys):
            d[k] = i
        return d

    def readd(d):
        for i, k in enumerate(keys):
            del d[k]
            d[k] = i

    def lookups(d):
        total = 0
        for k in keys:
            total += d[k]

    add("dictionary.add80k", lambda p: None, lambda _: filled(), "Python dict")
    add("dictionary.readd80k", lambda p: filled(), readd, "Python dict")
    add("dictionary.lookup80k", lambda p: filled(), lookups, "Python dict")
    return ops


FRESH_PROCESS = {"thumbnail.jpeg"}


def timed(work, state):
    runs = 1
    start = time.perf_counter()
    result = work(state)
    elapsed = time.perf_counter() - start
    while elapsed < MIN_SECONDS:
        result = work(state)
        runs += 1
        elapsed = time.perf_counter() - start
    out = {"seconds": elapsed / runs}
    if isinstance(result, int):
        out["bytes"] = result
    return out


def main():
    ops = operations()
    command = sys.argv[1] if len(sys.argv) > 1 else "--list"
    if command == "--list":
        for name, (_, _, peer) in ops.items():
            entry = {"op": name}
            if peer:
                entry["peer"] = peer
            if name in FRESH_PROCESS:
                entry["fresh_process"] = True
            print(json.dumps(entry))
        return
    if command == "--once":
        name, photo_name = sys.argv[2], sys.argv[3]
        prepare, work, _ = ops[name]
        start = time.perf_counter()
        work(prepare(photo_name))
        print(json.dumps({"seconds": time.perf_counter() - start}))
        return
    states = {}
    for line in sys.stdin:
        _, name, photo_name, _threads = line.split()
        prepare, work, _ = ops[name]
        if (name, photo_name) not in states:
            states = {(name, photo_name): prepare(photo_name)}  # one input held at a time
            work(states[(name, photo_name)])  # warm-up
        print(json.dumps(timed(work, states[(name, photo_name)])), flush=True)


if __name__ == "__main__":
    main()
