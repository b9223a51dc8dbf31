"""The web page host under load, with wrk on loopback, beside its peers in the same run.

  host: a static 100 KB file, the banner page, the thumbnail page (the 1920x1200 photo)
  nginx: the same static file
  gunicorn with two workers: the same thumbnail made by a small Pillow application

wrk waits up to 30 s for a response (page requests queue behind the workers when every
connection asks for a thumbnail at once). Three runs back to back, each measuring every case with its peer beside it (the machine
may be shared: the ratios are of the medians); the host's RSS is taken before and after
each run. Prints requests/s, p50 and p99 latency and errors per case and run, the ratios
to the peers, and the RSS growth; writes bench/results/http.json.

  python3 bench/http_bench.py [--seconds N] [--connections N] [--threading[-only]] [--rounds N]
                              [--imaging-threads LIST [--imaging-only]]

--threading also measures the engine's two threading modes (a pool of engine threads,
or a thread per connection) with page work and file requests at once.

--imaging-threads 1,2 also measures the host started with each --imaging-threads value,
taking turns, --rounds rounds each: one big page at a time (the 6028x3391 photo resized
with a filter) and eight at once, for twice --seconds each, then --connections thumbnail
pages at once. It prints the medians of requests/s and p50 latency with the load average
before and after.
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def parse_duration_ms(text):
    value = float(re.match(r"[\d.]+", text).group())
    unit = text[len(re.match(r"[\d.]+", text).group()):]
    return value * {"us": 1e-3, "ms": 1.0, "s": 1e3, "m": 6e4}[unit]


def wrk(url, seconds, connections):
    out = subprocess.run(
        ["wrk", f"-t{min(2, connections)}", f"-c{connections}", f"-d{seconds}s",
         "--timeout", "30s", "--latency", url],
        capture_output=True, text=True, check=True).stdout
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    p50 = parse_duration_ms(re.search(r"\s50%\s+(\S+)", out).group(1))
    p99 = parse_duration_ms(re.search(r"\s99%\s+(\S+)", out).group(1))
    errors = 0
    match = re.search(r"Non-2xx or 3xx responses:\s+(\d+)", out)
    if match:
        errors += int(match.group(1))
    match = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", out)
    if match:
        errors += sum(int(n) for n in match.groups())
    return {"rate": rate, "p50_ms": p50, "p99_ms": p99, "errors": errors}


class Process:
    def __init__(self, args, env=None, log=None):
        self.log = open(log, "w") if log else subprocess.DEVNULL
        self.process = subprocess.Popen(args, env=env, stdout=subprocess.PIPE,
                                        stderr=self.log, text=True)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def make_site(work, images):
    site = os.path.join(work, "site")
    os.makedirs(os.path.join(site, "pictures"))
    with open(os.path.join(site, "file100k.bin"), "wb") as f:
        f.write(os.urandom(100 * 1024))
    shutil.copy(os.path.join(ROOT, "examples", "site", "banner.asp"), site)
    shutil.copytree(os.path.join(ROOT, "examples", "site", "include"), os.path.join(site, "include"))
    shutil.copy(os.path.join(ROOT, "bench", "http_thumb.asp"), os.path.join(site, "thumb.asp"))
    shutil.copy(os.path.join(ROOT, "bench", "http_resize.asp"), os.path.join(site, "resize.asp"))
    shutil.copy(os.path.join(images, "medium.jpg"), os.path.join(site, "pictures", "photo.jpg"))
    shutil.copy(os.path.join(images, "large.jpg"), os.path.join(site, "pictures", "large.jpg"))
    return site


def start_host(work, site, registry, extra=()):
    env = dict(os.environ, VELLUM_REGISTRY=registry)
    host = Process([os.path.join(BUILD, "bin", "vellum-host"), "--port", "0", "--access-log", "",
                    "--error-log", os.path.join(work, "host-error.log"), *extra, site], env=env)
    line = host.process.stdout.readline()
    match = re.match(r"listening on http://127\.0\.0\.1:(\d+)/", line)
    if not match:
        host.stop()
        sys.exit(f"the host did not start: {line!r}")
    return host, int(match.group(1))


def start_nginx(work, site):
    port = free_port()
    prefix = os.path.join(work, "nginx")
    os.makedirs(prefix)
    user = "user root;\n" if os.geteuid() == 0 else ""
    temps = "".join(f"  {t}_temp_path {prefix}/{t};\n"
                    for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(os.path.join(prefix, "nginx.conf"), "w") as f:
        f.write(f"daemon off;\n{user}worker_processes auto;\npid {prefix}/nginx.pid;\n"
                f"error_log {prefix}/error.log;\nevents {{ worker_connections 1024; }}\n"
                f"http {{\n  access_log off;\n{temps}  sendfile on;\n"
                f"  server {{ listen 127.0.0.1:{port}; root {site}; }}\n}}\n")
    nginx = Process(["/usr/sbin/nginx", "-p", prefix, "-c", os.path.join(prefix, "nginx.conf"),
                     "-e", os.path.join(prefix, "error.log")])
    if not wait_for_port(port):
        sys.exit("nginx did not start")
    return nginx, port


def start_gunicorn(work, site):
    port = free_port()
    env = dict(os.environ, PICTURES=os.path.join(site, "pictures"))
    gunicorn = Process(["/usr/bin/python3", "-m", "gunicorn", "--workers", "2", "--bind", f"127.0.0.1:{port}",
                        "--chdir", os.path.join(ROOT, "bench"), "--log-level", "warning",
                        "http_pillow_app:app"], env=env, log=os.path.join(work, "gunicorn.log"))
    if not wait_for_port(port):
        sys.exit("gunicorn did not start")
    return gunicorn, port


def show(name, run):
    print(f"  {name:34} {run['rate']:10.1f} req/s   p50 {run['p50_ms']:8.2f} ms"
          f"   p99 {run['p99_ms']:8.2f} ms   errors {run['errors']}")


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def measure(args, work, site, registry):
    """Three rounds; each measures every host case and, right beside it, the peer that
    case is compared with, so that both see the same machine."""
    host, port = start_host(work, site, registry)
    nginx, nginx_port = start_nginx(work, site)
    gunicorn, gunicorn_port = start_gunicorn(work, site)
    base = f"http://127.0.0.1:{port}"
    cases = [("static 100 KB file", f"{base}/file100k.bin"),
             ("nginx: static 100 KB file", f"http://127.0.0.1:{nginx_port}/file100k.bin"),
             ("banner page", f"{base}/banner.asp?text=Hello%2C+Vellum"),
             ("thumbnail page", f"{base}/thumb.asp?name=photo.jpg"),
             ("Pillow+gunicorn: thumbnail", f"http://127.0.0.1:{gunicorn_port}/?name=photo.jpg")]
    results = {"rss_before_kib": rss_kib(host.process.pid), "cases": {}, "rss_after_kib": []}
    print(f"vellum-host RSS before: {results['rss_before_kib']} KiB")
    for run in range(3):
        print(f"run {run + 1}")
        for name, url in cases:
            measured = wrk(url, args.seconds, args.connections)
            results["cases"].setdefault(name, []).append(measured)
            show(name, measured)
        results["rss_after_kib"].append(rss_kib(host.process.pid))
        print(f"  vellum-host RSS after run {run + 1}: {results['rss_after_kib'][-1]} KiB")
    for process in (host, nginx, gunicorn):
        process.stop()
    return results


def measure_threading(args, work, site, registry):
    """Page work (thumbnails) and file requests at once, in each threading mode; the two
    modes take turns, --rounds rounds each, and the medians are compared."""
    modes = ("pool", "per-connection")
    rounds = {mode: [] for mode in modes}
    half = max(1, args.connections // 2)
    for _ in range(args.rounds):
        for mode in modes:
            host, port = start_host(work, site, registry, ["--connection-threads", mode])
            pages = subprocess.Popen(
                ["wrk", "-t1", f"-c{half}", f"-d{args.seconds}s", "--timeout", "30s",
                 "--latency", f"http://127.0.0.1:{port}/thumb.asp?name=photo.jpg"],
                stdout=subprocess.PIPE, text=True)
            files = wrk(f"http://127.0.0.1:{port}/file100k.bin", args.seconds, half)
            out = pages.communicate()[0]
            rounds[mode].append({
                "thumbnail_rate": float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1)),
                "thumbnail_p99_ms": parse_duration_ms(re.search(r"\s99%\s+(\S+)", out).group(1)),
                "file_rate": files["rate"], "file_p99_ms": files["p99_ms"]})
            host.stop()
    results = {}
    for mode in modes:
        results[mode] = {key: median([r[key] for r in rounds[mode]]) for key in rounds[mode][0]}
        results[mode]["rounds"] = rounds[mode]
        m = results[mode]
        print(f"  {mode:16} thumbnails {m['thumbnail_rate']:8.1f} req/s"
              f" (p99 {m['thumbnail_p99_ms']:8.1f} ms)   files {m['file_rate']:8.1f} req/s"
              f" (p99 {m['file_p99_ms']:8.2f} ms)   [medians of {args.rounds}]")
    return results


def load_average():
    return "load average {:.2f} {:.2f} {:.2f}".format(*os.getloadavg())


def measure_imaging_threads(args, work, site, registry):
    """The host with each --imaging-threads value in turn, --rounds rounds: big pages one
    and eight at a time, thumbnail pages --connections at a time; medians per value."""
    counts = [int(n) for n in args.imaging_threads.split(",")]
    # (name, page, connections, seconds): the big pages take seconds each under load.
    big_seconds = 2 * args.seconds
    cases = [("one big page at a time", "resize.asp", 1, big_seconds),
             ("8 big pages at once", "resize.asp", 8, big_seconds),
             (f"{args.connections} thumbnail pages at once", "thumb.asp?name=photo.jpg",
              args.connections, args.seconds)]
    rounds = {count: {name: [] for name, *_ in cases} for count in counts}
    before = load_average()
    print(f"imaging threads {args.imaging_threads}, {before}")
    for _ in range(args.rounds):
        for count in counts:
            host, port = start_host(work, site, registry, ["--imaging-threads", str(count)])
            for name, page, connections, seconds in cases:
                measured = wrk(f"http://127.0.0.1:{port}/{page}", seconds, connections)
                rounds[count][name].append(measured)
                show(f"{count} thread(s): {name}", measured)
                # Pages wrk left queued still run: the next case starts after them.
                urllib.request.urlopen(f"http://127.0.0.1:{port}/{page}", timeout=120).read()
            host.stop()
    after = load_average()
    results = {"load_before": before, "load_after": after, "counts": {}}
    print(f"medians of {args.rounds} rounds ({after})")
    for name, *_ in cases:
        for count in counts:
            runs = rounds[count][name]
            m = {key: median([r[key] for r in runs]) for key in ("rate", "p50_ms", "p99_ms")}
            m["errors"] = sum(r["errors"] for r in runs)
            results["counts"].setdefault(str(count), {})[name] = dict(m, rounds=runs)
            show(f"{count} thread(s): {name}", m)
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--connections", type=int, default=32)
    parser.add_argument("--threading", action="store_true")
    parser.add_argument("--threading-only", action="store_true")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--imaging-threads", default="", help="comma-separated counts, e.g. 1,2")
    parser.add_argument("--imaging-only", action="store_true")
    args = parser.parse_args()
    if args.imaging_only and not args.imaging_threads:
        parser.error("--imaging-only needs --imaging-threads")
    checkout = os.path.dirname(subprocess.run(
        ["git", "rev-parse", "--path-format=absolute", "--git-common-dir"], cwd=ROOT,
        capture_output=True, text=True, check=True).stdout.strip())
    images = os.environ.get("VELLUM_IMAGES", os.path.join(checkout, "..", "shared", "images"))

    with tempfile.TemporaryDirectory() as work:
        site = make_site(work, images)
        registry = os.path.join(work, "registry")
        subprocess.run([os.path.join(BUILD, "bin", "vellum-regsvr"),
                        os.path.join(BUILD, "lib", "libvellum.so")],
                       env=dict(os.environ, VELLUM_REGISTRY=registry), check=True,
                       stdout=subprocess.DEVNULL)
        report = {"connections": args.connections, "seconds": args.seconds}
        if args.imaging_threads:
            report["imaging_threads"] = measure_imaging_threads(args, work, site, registry)
            if args.imaging_only:
                write_report("http-imaging-threads.json", report)
                return
        if args.threading_only:
            print("threading modes, thumbnails and files at once")
            report["threading"] = measure_threading(args, work, site, registry)
            return
        report.update(measure(args, work, site, registry))
        if args.threading:
            print("threading modes, thumbnails and files at once")
            report["threading"] = measure_threading(args, work, site, registry)

    rates = {name: median([run["rate"] for run in runs]) for name, runs in report["cases"].items()}
    errors = sum(run["errors"] for name, runs in report["cases"].items() for run in runs
                 if not name.startswith(("nginx", "Pillow")))
    static_ratio = rates["static 100 KB file"] / rates["nginx: static 100 KB file"]
    thumb_ratio = rates["thumbnail page"] / rates["Pillow+gunicorn: thumbnail"]
    rss = report["rss_after_kib"]
    growth = rss[-1] / rss[0] - 1
    print("ratios of the medians (ours / peer; the targets in brackets)")
    print(f"  static file vs nginx:          {static_ratio:6.2f}  [>= 0.5]")
    print(f"  thumbnail vs Pillow+gunicorn:  {thumb_ratio:6.2f}  [>= 1.0]")
    print(f"  host errors:                   {errors:6d}  [0]")
    print(f"  RSS after run 3 / after run 1: {1 + growth:6.3f}  [<= 1.10]")
    report["ratios"] = {"static_vs_nginx": static_ratio, "thumbnail_vs_pillow": thumb_ratio,
                        "rss_growth": growth, "host_errors": errors}
    write_report("http.json", report)


def write_report(name, report):
    os.makedirs(os.path.join(ROOT, "bench", "results"), exist_ok=True)
    with open(os.path.join(ROOT, "bench", "results", name), "w") as f:
        json.dump(report, f, indent=2)


if __name__ == "__main__":
    main()
