#!/usr/bin/env bash
# Runs the benchmarks and, in the same run, the reference measurements they are
# compared with, then prints the ratios (ours / reference; below 1 means faster).
#   scripts/bench.sh [NAME...]     NAME is bench/NAME_bench.cpp or .py (default: all)
#
# bench/NAME_bench.cpp   Google Benchmark program built into build/bin/NAME_bench
# bench/NAME_pillow.py,  optional references: print JSON lines
# bench/NAME_reference.py  {"name": ..., "ours": "<benchmark name>", "seconds": <per iteration>}
# bench/NAME_bench.py    a benchmark of whole programs that measures its peers itself and
#                        prints its own comparison (http: the web page host under wrk)
# The database benchmark and its reference share a PostgreSQL server started here
# (scripts/pg_scratch.sh) and stopped at the end.
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

if [[ " ${names[*]} " == *" database "* ]]; then
  pgdir=$(mktemp -d /tmp/vellum-pg-XXXXXX)
  trap 'bash scripts/pg_scratch.sh stop "$pgdir"; rm -rf "$pgdir"' EXIT
  VELLUM_BENCH_POSTGRES=$(bash scripts/pg_scratch.sh start "$pgdir")
  export VELLUM_BENCH_POSTGRES
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
  for script in bench/"${name}_pillow.py" bench/"${name}_reference.py"; do
    if [ -f "$script" ]; then /usr/bin/python3 "$script" >>"$reference"; fi
  done
  /usr/bin/python3 bench/compare.py bench/results/"$name".json "$reference"
done
