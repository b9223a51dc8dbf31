"""Pillow on the pictures of bench/gif_pcx_psd_bench.cpp. Encodes: GIF of the same
256-colour index image and PCX of the photograph; Pillow has no 8BPS writer, so its
8BPS reference is the same raw RGB file built from Pillow's band split. Decodes: Pillow
reads the files our benchmark wrote (its own files are timed too, for information)."""
import io
import os
import struct

from PIL import Image, ImageChops

from pillow_timing import data_path, measure


def index_image(photo):
    """Index = the top 3 bits of red, 3 of green and 2 of blue, as in the C++ benchmark."""
    red, green, blue = photo.split()
    indices = ImageChops.add(ImageChops.add(red.point(lambda v: v & 0xE0),
                                            green.point(lambda v: (v & 0xE0) >> 3)),
                             blue.point(lambda v: v >> 6))
    image = Image.frombytes("P", photo.size, indices.tobytes())
    image.putpalette([c for i in range(256)
                      for c in (i & 0xE0, (i & 0x1C) << 3, (i & 0x03) << 6)])
    return image


def encode(image, fmt):
    buffer = io.BytesIO()
    image.save(buffer, fmt)
    return buffer.getvalue()


def decode(data):
    Image.open(io.BytesIO(data)).load()


def raw_psd(photo):
    width, height = photo.size
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, height, width, 8, 3)
    return header + struct.pack(">IIIH", 0, 0, 0, 0) + b"".join(b.tobytes() for b in photo.split())


def ours(name):
    path = data_path(name)
    return open(path, "rb").read() if os.path.exists(path) else None


def main():
    photo = Image.open(data_path("medium.ppm"))
    photo.load()
    indexed = index_image(photo)
    measure("GIF save", "GifEncode", lambda: encode(indexed, "GIF"))
    measure("PCX save", "PcxEncode", lambda: encode(photo, "PCX"))
    measure("8BPS raw via split", "PsdEncode", lambda: raw_psd(photo))
    for fmt, own, benchmark in (("GIF", encode(indexed, "GIF"), "GifDecode"),
                                ("PCX", encode(photo, "PCX"), "PcxDecode"),
                                ("8BPS", raw_psd(photo), "PsdDecode")):
        written = ours("written." + fmt.lower().replace("8bps", "psd"))
        if written is not None:
            measure(f"{fmt} load of ours", benchmark, lambda: decode(written))
        measure(f"{fmt} load of own", f"{benchmark} (Pillow's own file)", lambda: decode(own))


if __name__ == "__main__":
    main()
