#!/usr/bin/env bash
# Runs the benchmarks and, in the same run, the peers they are compared with, then
# prints the ratios (ours / peer's; below 1 means faster).
#   scripts/bench.sh [--rounds N] [--photos medium,large] [--threads 1,2] [--ops PREFIX,...] [NAME...]
#
# peers                  Vellum beside Pillow, libavif's tools (AVIF) and, when its
#                        development files are installed, libvips, doing the same work turn about: one table of operation,
#                        Vellum, the fastest peer, ratio, with output sizes and peak memory
#                        where they matter (bench/run.py; the options above are its own).
#                        The photographs come from VELLUM_IMAGES, by default the shared
#                        folder beside the main checkout (../shared/images); without them
#                        only the Dictionary and script rows run.
# bench/NAME_bench.cpp   Google Benchmark program built into build/bin/NAME_bench
# bench/NAME_reference.py  optional reference: prints JSON lines
#                        {"name": ..., "ours": "<benchmark name>", "seconds": <per iteration>}
# bench/NAME_bench.py    a benchmark of whole programs that measures its peers itself and
#                        prints its own comparison (http: the web page host under wrk)
# NAME is peers or one of the others (default: all). The database benchmark and its
# reference share a PostgreSQL server started here (scripts/pg_scratch.sh) and stopped
# at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

comparison=()
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --*) comparison+=("$1" "${2:?"$1 needs a value"}"); shift 2 ;;
    *) names+=("$1"); shift ;;
  esac
done
if [ ${#names[@]} -eq 0 ]; then
  names=(peers)
  for f in bench/*_bench.cpp bench/*_bench.py; do names+=("$(basename "${f%.*}" _bench)"); done
fi

bash scripts/setup.sh
bash scripts/build.sh release >/dev/null

# The photographs sit beside the main checkout (worktrees share its .git).
checkout=$(dirname "$(git rev-parse --path-format=absolute --git-common-dir)")
images=${VELLUM_IMAGES:-$checkout/../shared/images}
export VELLUM_BENCH_DATA=$PWD/build/bench-data
mkdir -p "$VELLUM_BENCH_DATA" bench/results

if [ -f "$images/medium.jpg" ] && [ -f "$images/large.jpg" ]; then
  for photo in medium large; do
    cp -u "$images/$photo.jpg" "$VELLUM_BENCH_DATA/$photo.jpg"
    [ -f "$VELLUM_BENCH_DATA/$photo.ppm" ] || /usr/bin/python3 -c \
      'import sys; from PIL import Image; Image.open(sys.argv[1]).convert("RGB").save(sys.argv[2])' \
      "$VELLUM_BENCH_DATA/$photo.jpg" "$VELLUM_BENCH_DATA/$photo.ppm"
  done
  build/bin/vellum_suite --prepare
else
  echo "bench: no medium.jpg and large.jpg in $images (set VELLUM_IMAGES); only the" \
       "Dictionary and script rows are compared" >&2
  comparison+=(--photos none --ops dictionary,script)
fi

if [[ " ${names[*]} " == *" database "* ]]; then
  pgdir=$(mktemp -d /tmp/vellum-pg-XXXXXX)
  trap 'bash scripts/pg_scratch.sh stop "$pgdir"; rm -rf "$pgdir"' EXIT
  VELLUM_BENCH_POSTGRES=$(bash scripts/pg_scratch.sh start "$pgdir")
  export VELLUM_BENCH_POSTGRES
fi

for name in "${names[@]}"; do
  echo "== $name"
  if [ "$name" = peers ]; then
    suites=(--suite "Vellum=build/bin/vellum_suite" --suite "Vellum=build/bin/script_suite"
            --suite "Pillow=/usr/bin/python3 bench/pillow_suite.py")
    # libavif's tools for the AVIF rows, at the row's thread count (libvips cannot set it).
    if command -v avifenc >/dev/null && command -v avifdec >/dev/null; then
      suites+=(--suite "avifenc=/usr/bin/python3 bench/avif_tools_suite.py")
    fi
    if [ -x build/bin/vips_suite ]; then
      suites+=(--suite "libvips=build/bin/vips_suite")
    else
      echo "bench: libvips is not built in (libvips-dev missing); Pillow is the only peer" >&2
    fi
    /usr/bin/python3 bench/run.py "${suites[@]}" --json bench/results/comparison.json \
      "${comparison[@]}"
    continue
  fi
  if [ -f bench/"${name}"_bench.py ]; then
    /usr/bin/python3 bench/"${name}"_bench.py
    continue
  fi
  build/bin/"${name}_bench" --benchmark_format=json --benchmark_out=bench/results/"$name".json \
    --benchmark_out_format=json >/dev/null
  reference=bench/results/"$name".reference.jsonl
  : >"$reference"
  if [ -f bench/"${name}"_reference.py ]; then
    /usr/bin/python3 bench/"${name}"_reference.py >>"$reference"
  fi
  /usr/bin/python3 bench/compare.py bench/results/"$name".json "$reference"
done
