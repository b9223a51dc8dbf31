"""Timing helper for the reference scripts bench/*_reference.py."""
import json
import os
import time


def data_path(name):
    return os.path.join(os.environ.get("VELLUM_BENCH_DATA", "bench-data"), name)


def measure(name, ours, work, min_seconds=1.0):
    """Runs work() repeatedly for at least min_seconds and prints one JSON line."""
    work()  # warm-up
    runs = 0
    start = time.perf_counter()
    while True:
        work()
        runs += 1
        elapsed = time.perf_counter() - start
        if elapsed >= min_seconds and runs >= 3:
            break
    print(json.dumps({"name": name, "ours": ours, "seconds": elapsed / runs}), flush=True)
