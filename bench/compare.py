"""Prints our benchmark times beside the reference times measured in the same run."""
import json
import sys


def our_times(path):
    with open(path) as f:
        report = json.load(f)
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return {
        b["name"]: b["real_time"] * scale[b["time_unit"]]
        for b in report["benchmarks"]
        if b.get("run_type", "iteration") == "iteration"
    }


def main(ours_path, reference_path):
    ours = our_times(ours_path)
    references = {}
    with open(reference_path) as f:
        for line in f:
            if line.strip():
                entry = json.loads(line)
                references[entry["ours"]] = entry
    print(f"{'benchmark':48} {'ours (ms)':>10} {'reference':>24} {'ref (ms)':>10} {'ratio':>7}")
    for name, seconds in ours.items():
        ref = references.get(name)
        if ref is None:
            print(f"{name:48} {seconds * 1e3:10.2f}")
            continue
        ratio = seconds / ref["seconds"]
        print(f"{name:48} {seconds * 1e3:10.2f} {ref['name']:>24} {ref['seconds'] * 1e3:10.2f} {ratio:7.2f}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
