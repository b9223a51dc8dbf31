"""Pillow on the pictures of bench/gif_pcx_psd_bench.cpp: GIF of the same 256-colour
index image, PCX of the photograph; each decode reads what its encode wrote. Pillow
has no 8BPS writer: its reference encode is the same raw RGB file built from Pillow's
band split, and its decode reads that file."""
import io
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


def main():
    photo = Image.open(data_path("medium.ppm"))
    photo.load()
    indexed = index_image(photo)
    gif = encode(indexed, "GIF")
    pcx = encode(photo, "PCX")
    psd = raw_psd(photo)
    measure("GIF save", "GifEncode", lambda: encode(indexed, "GIF"))
    measure("GIF open+load", "GifDecode", lambda: decode(gif))
    measure("PCX save", "PcxEncode", lambda: encode(photo, "PCX"))
    measure("PCX open+load", "PcxDecode", lambda: decode(pcx))
    measure("8BPS raw via split", "PsdEncode", lambda: raw_psd(photo))
    measure("8BPS open+load", "PsdDecode", lambda: decode(psd))


if __name__ == "__main__":
    main()
