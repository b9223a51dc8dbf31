"""Pillow's counterpart of bench/load_save_bench.cpp: the photograph's JPEG bytes
opened and decoded, then encoded as a JPEG at quality 70 into memory."""
import io

from PIL import Image

from pillow_timing import data_path, measure


def main():
    with open(data_path("medium.jpg"), "rb") as f:
        encoded = f.read()

    def load_and_save(progressive):
        image = Image.open(io.BytesIO(encoded))
        image.load()
        out = io.BytesIO()
        image.save(out, "JPEG", quality=70, progressive=progressive)
        return out.getvalue()

    measure("open+load, save JPEG q70 progressive", "LoadSaveProgressive",
            lambda: load_and_save(True))
    measure("open+load, save JPEG q70 baseline", "LoadSaveBaseline",
            lambda: load_and_save(False))


if __name__ == "__main__":
    main()
