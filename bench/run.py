"""Runs the same operations on Vellum and its peers, interleaved, and prints one table.

Each suite is a program that names the operations it can do (--list) and then, as a
server (--serve), runs one on request: "RUN <op> <photo> <threads>" answers one JSON
line, {"seconds": s, "bytes": n} or {"skip": why}. Operations that report peak memory
run in a fresh process each time (--once), whose peak resident size is read here.

For every operation, photo and thread count, the suites take turns (in a rotating
order) for a number of rounds; the table gives medians, and every ratio is Vellum's
time over the fastest peer's in the same run. What the fastest peer's suite notes about
a row (where its settings differ from Vellum's) follows the table. A peer that runs on a
thread count of its own whatever the row's ("own_threads") is no peer for the ratio: its
times follow the table, row by row.
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time


class Suite:
    def __init__(self, name, command, environment):
        self.name = name
        self.command = command
        self.environment = environment
        self.ops = {}
        listing = subprocess.run(command + ["--list"], env=environment, capture_output=True,
                                 text=True, check=True)
        for line in listing.stdout.splitlines():
            if line.strip():
                entry = json.loads(line)
                self.ops[entry["op"]] = entry
        self.process = None

    def start(self):
        self.process = subprocess.Popen(self.command + ["--serve"], env=self.environment,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)

    def stop(self):
        if self.process is not None:
            self.process.stdin.close()
            self.process.wait()
            self.process = None

    def run(self, op, photo, threads):
        if self.ops[op].get("fresh_process"):
            return self.run_once(op, photo, threads)
        self.process.stdin.write(f"RUN {op} {photo} {threads}\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        if not line:
            raise RuntimeError(f"{self.name} stopped while running {op}")
        return json.loads(line)

    def run_once(self, op, photo, threads):
        child = subprocess.Popen(self.command + ["--once", op, photo, str(threads)],
                                 env=self.environment, stdout=subprocess.PIPE, text=True)
        output = child.stdout.read()
        _, status, usage = os.wait4(child.pid, 0)
        child.stdout.close()
        if status != 0:
            raise RuntimeError(f"{self.name} failed running {op} once")
        result = json.loads(output.strip().splitlines()[-1])
        result["peak_rss"] = usage.ru_maxrss * 1024  # kilobytes on Linux
        return result


def threaded(suite, op):
    return suite.ops[op].get("threaded", False)


def measure(suites, ops, photos, thread_counts, rounds, log):
    results = {}  # (op, photo, threads) -> suite -> list of results
    for photo in photos:
        for op in ops:
            taking = [s for s in suites if op in s.ops]
            for threads in thread_counts:
                # Beyond one thread only where some suite can use more.
                if threads > 1 and not any(threaded(s, op) for s in taking):
                    continue
                runners = [s for s in taking if threads == 1 or threaded(s, op) or
                           s.name == "Vellum"]
                key = (op, photo, threads)
                results[key] = {s.name: [] for s in runners}
                for round_index in range(rounds):
                    shift = round_index % len(runners)
                    for suite in runners[shift:] + runners[:shift]:
                        results[key][suite.name].append(suite.run(op, photo, threads))
                log(key, results[key])
    return results


def listed(suites, suite_name, op):
    """What the named suite listed for an operation ({} where it does not do it)."""
    for suite in suites:
        if suite.name == suite_name and op in suite.ops:
            return suite.ops[op]
    return {}


def own_threads(suites, suite_name, op):
    return listed(suites, suite_name, op).get("own_threads", False)


def peer_name(suites, suite_name, op):
    """A suite may name the peer an operation measures (Python's dict in the Pillow suite)."""
    return listed(suites, suite_name, op).get("peer", suite_name)


def summary(samples):
    good = [s for s in samples if "seconds" in s]
    if not good:
        return {"skip": samples[0].get("skip", "no result") if samples else "no result"}
    out = {"seconds": statistics.median(s["seconds"] for s in good)}
    for field in ("bytes", "peak_rss"):
        values = [s[field] for s in good if field in s]
        if values:
            out[field] = statistics.median(values)
    return out


def fmt_ms(seconds):
    ms = seconds * 1e3
    return f"{ms:.3f}" if ms < 1 else f"{ms:.2f}" if ms < 100 else f"{ms:.0f}"


def table(results, notes, suites):
    lines = ["| operation | photo | threads | Vellum ms | fastest peer | peer ms | ratio | output (Vellum / peer) |",
             "|---|---|---|---|---|---|---|---|"]
    footnotes = {}  # op -> what a row with a peer is to be read with
    aside = []  # the times of peers on a thread count of their own
    for (op, photo, threads), by_suite in results.items():
        op_notes = notes.get(op, {})
        ours = summary(by_suite.get("Vellum", []))
        peers = {name: summary(samples) for name, samples in by_suite.items() if name != "Vellum"}
        timed = {name: s for name, s in peers.items() if "seconds" in s}
        if "seconds" not in ours:
            continue
        for name in [n for n in timed if own_threads(suites, n, op)]:
            other = timed.pop(name)
            size = f" ({other['bytes'] / 1e6:.3f} MB)" if "bytes" in other else ""
            aside.append(f"- {op}, {photo}, {threads} thread(s): {name} on its own thread count "
                         f"{fmt_ms(other['seconds'])} ms{size}, Vellum "
                         f"{ours['seconds'] / other['seconds']:.2f} of it "
                         f"({op_notes.get(name, 'no note')})")
        extra = ""
        if "bytes" in ours:
            extra = f"{ours['bytes'] / 1e6:.3f} MB"
        if "peak_rss" in ours:
            extra = f"{ours['peak_rss'] / 2**20:.1f} MiB peak"
        if not timed:
            lines.append(f"| {op} | {photo} | {threads} | {fmt_ms(ours['seconds'])} | "
                         f"none ({op_notes.get('Vellum', 'no peer does this work')}) | | | {extra} |")
            continue
        name, best = min(timed.items(), key=lambda item: item[1]["seconds"])
        if name in op_notes:
            footnotes[op] = op_notes[name]
        name = peer_name(suites, name, op)
        if "bytes" in best:
            extra += f" / {best['bytes'] / 1e6:.3f} MB"
        if "peak_rss" in best:
            extra += f" / {best['peak_rss'] / 2**20:.1f} MiB peak"
        ratio = ours["seconds"] / best["seconds"]
        lines.append(f"| {op} | {photo} | {threads} | {fmt_ms(ours['seconds'])} | {name} | "
                     f"{fmt_ms(best['seconds'])} | {ratio:.2f} | {extra} |")
    if footnotes:
        lines.append("")
        lines.extend(f"- {op}: {note}" for op, note in footnotes.items())
    if aside:
        lines.append("")
        lines.append("Peers on a thread count of their own, not in the ratios above:")
        lines.extend(aside)
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--suite", action="append", default=[],
                        help="NAME=COMMAND (command split on spaces); Vellum first")
    parser.add_argument("--photos", default="medium,large")
    parser.add_argument("--threads", default="1,2")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--ops", default="", help="comma-separated prefixes of operations")
    parser.add_argument("--json", help="where to write every sample")
    args = parser.parse_args()

    environment = dict(os.environ)
    suites = []
    for spec in args.suite:
        name, command = spec.split("=", 1)
        suites.append(Suite(name, command.split(), environment))
    notes = {}  # op -> suite name -> its note
    ops = []
    for suite in suites:
        for op, entry in suite.ops.items():
            if op not in ops:
                ops.append(op)
            if "note" in entry:
                notes.setdefault(op, {}).setdefault(suite.name, entry["note"])
    prefixes = [p for p in args.ops.split(",") if p]
    if prefixes:
        ops = [op for op in ops if any(op.startswith(p) for p in prefixes)]
    ours = set().union(*(s.ops for s in suites if s.name == "Vellum"))
    ops = [op for op in ops if op in ours]

    def log(key, samples):
        parts = []
        for name, results in samples.items():
            s = summary(results)
            parts.append(f"{name} {fmt_ms(s['seconds'])} ms" if "seconds" in s else
                         f"{name} skipped ({s['skip']})")
        print(f"  {key[0]} {key[1]} x{key[2]}: " + ", ".join(parts), file=sys.stderr, flush=True)

    for suite in suites:
        suite.start()
    try:
        load = os.getloadavg()
        started = time.time()
        results = measure(suites, ops, args.photos.split(","),
                          [int(t) for t in args.threads.split(",")], args.rounds, log)
    finally:
        for suite in suites:
            suite.stop()
    print(f"Medians of {args.rounds} interleaved rounds; load average before the run "
          f"{load[0]:.2f}, after {os.getloadavg()[0]:.2f}; {time.time() - started:.0f} s.")
    print()
    print(table(results, notes, suites))
    if args.json:
        with open(args.json, "w") as f:
            json.dump([{"op": k[0], "photo": k[1], "threads": k[2], "samples": v}
                       for k, v in results.items()], f, indent=1)


if __name__ == "__main__":
    main()
