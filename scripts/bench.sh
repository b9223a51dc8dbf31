#!/usr/bin/env bash
# Runs the benchmarks and, in the same run, the reference measurements they are
# compared with, then prints the ratios (ours / reference; below 1 means faster).
#   scripts/bench.sh [NAME...]     NAME is bench/NAME_bench.cpp or .py (default: all)
#
# bench/NAME_bench.cpp   Google Benchmark program built into build/bin/NAME_bench
# bench/NAME_pillow.py   optional reference: prints JSON lines
#                        {"name": ..., "ours": "<benchmark name>", "seconds": <per iteration>}
# bench/NAME_bench.py    a benchmark of whole programs that measures its peers itself and
#                        prints its own comparison (http: the web page host under wrk)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh release >/dev/null

# The photographs sit beside the main checkout (worktrees share its .git).
checkout=$(dirname "$(git rev-parse --path-format=absolute --git-common-dir)")
images=${VELLUM_IMAGES:-$checkout/../shared/images}
export VELLUM_BENCH_DATA=$PWD/build/bench-data
mkdir -p "$VELLUM_BENCH_DATA" bench/results
for photo in medium large; do
  [ -f "$VELLUM_BENCH_DATA/$photo.ppm" ] || convert "$images/$photo.jpg" "$VELLUM_BENCH_DATA/$photo.ppm"
  [ -f "$VELLUM_BENCH_DATA/$photo.jpg" ] || cp "$images/$photo.jpg" "$VELLUM_BENCH_DATA/$photo.jpg"
done

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in bench/*_bench.cpp bench/*_bench.py; do names+=("$(basename "${f%.*}" _bench)"); done
fi

for name in "${names[@]}"; do
  echo "== $name"
  if [ -f bench/"${name}"_bench.py ]; then
    /usr/bin/python3 bench/"${name}"_bench.py
    continue
  fi
  build/bin/"${name}_bench" --benchmark_format=json --benchmark_out=bench/results/"$name".json \
    --benchmark_out_format=json >/dev/null
  reference=bench/results/"$name".reference.jsonl
  : >"$reference"
  [ -f bench/"${name}_pillow.py" ] && /usr/bin/python3 bench/"${name}_pillow.py" >"$reference"
  /usr/bin/python3 bench/compare.py bench/results/"$name".json "$reference"
done
