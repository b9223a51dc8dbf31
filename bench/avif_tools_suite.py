"""libavif's own tools as a peer of the AVIF rows (bench/run.py; protocol in
bench/support/suite.h): avifenc and avifdec run the same AV1 encoder and decoder as
Vellum's AVIF codec, on the thread count the row names.

Each run is a process of its own, so its time includes starting it (about 0.04 s) and
reading its input: for the encoder a PNG stored without compression, so that reading it
is little more than copying; the decoder writes raw YUV (y4m), which is less work than
Vellum's conversion to RGB.

The encoder runs with aom's row-based threading off, as Vellum's does: with it on,
aom's output changes with the thread count, so more threads would be different work.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

from PIL import Image

DATA = os.environ.get("VELLUM_BENCH_DATA", "bench-data")
# Vellum's AVIF writer at quality 60: speed 6, 4:2:0, quantizer (100 - 60) * 63 / 100.
QUANTIZER = (100 - 60) * 63 // 100
NOTE = "its own process each run: starting it and reading its input are in its time"
OPS = ("avif.encode.q60", "avif.decode")


def stored_png(photo, folder):
    path = os.path.join(folder, photo + ".png")
    if not os.path.exists(path):
        Image.open(os.path.join(DATA, photo + ".ppm")).save(path, compress_level=0)
    return path


def run(op, photo, threads, folder):
    if op == "avif.encode.q60":
        out = os.path.join(folder, "out.avif")
        command = ["avifenc", "-j", str(threads), "-a", "row-mt=0", "-s", "6", "-y", "420",
                   "--min", str(QUANTIZER), "--max", str(QUANTIZER), stored_png(photo, folder),
                   out]
    else:
        out = os.path.join(folder, "out.y4m")
        command = ["avifdec", "-j", str(threads),
                   os.path.join(DATA, photo + "-vellum.avif"), out]
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    result = {"seconds": time.perf_counter() - start}
    if op == "avif.encode.q60":
        result["bytes"] = os.path.getsize(out)
    return result


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "--list"
    if command == "--list":
        for op in OPS:
            print(json.dumps({"op": op, "threaded": True, "note": NOTE}))
        return
    with tempfile.TemporaryDirectory() as folder:
        if command == "--once":
            print(json.dumps(run(sys.argv[2], sys.argv[3], int(sys.argv[4]), folder)))
            return
        for line in sys.stdin:
            _, op, photo, threads = line.split()
            print(json.dumps(run(op, photo, int(threads), folder)), flush=True)


if __name__ == "__main__":
    main()
