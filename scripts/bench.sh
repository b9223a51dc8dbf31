#!/usr/bin/env bash
# Compares Vellum with its peers doing the same work, side by side in one run, and
# prints one table: operation, Vellum, the fastest peer, ratio (below 1: Vellum is
# faster), with output sizes and peak memory where they matter (bench/run.py).
#   scripts/bench.sh [--rounds N] [--photos medium,large] [--threads 1,2] [--ops PREFIX,...]
# The peers are Pillow and, when its development files are installed, libvips. The
# photographs come from VELLUM_IMAGES, by default the shared folder beside the main
# checkout (../shared/images); without them only the Dictionary and script rows run.
# Then the other benchmarks, bench/NAME_bench.cpp (Google Benchmark), run beside their
# references bench/NAME_reference.py; the database one shares a PostgreSQL server
# started here (scripts/pg_scratch.sh) and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh release >/dev/null

checkout=$(dirname "$(git rev-parse --path-format=absolute --git-common-dir)")
images=${VELLUM_IMAGES:-$checkout/../shared/images}
export VELLUM_BENCH_DATA=$PWD/build/bench-data
mkdir -p "$VELLUM_BENCH_DATA" bench/results

comparison=("$@")
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

suites=(--suite "Vellum=build/bin/vellum_suite" --suite "Vellum=build/bin/script_suite"
        --suite "Pillow=/usr/bin/python3 bench/pillow_suite.py")
if [ -x build/bin/vips_suite ]; then
  suites+=(--suite "libvips=build/bin/vips_suite")
else
  echo "bench: libvips is not built in (libvips-dev missing); Pillow is the only peer" >&2
fi
echo "== Vellum and its peers"
/usr/bin/python3 bench/run.py "${suites[@]}" --json bench/results/comparison.json \
  "${comparison[@]}"

names=()
for f in bench/*_bench.cpp; do [ -e "$f" ] && names+=("$(basename "$f" _bench.cpp)"); done

if [[ " ${names[*]} " == *" database "* ]]; then
  pgdir=$(mktemp -d /tmp/vellum-pg-XXXXXX)
  trap 'bash scripts/pg_scratch.sh stop "$pgdir"; rm -rf "$pgdir"' EXIT
  VELLUM_BENCH_POSTGRES=$(bash scripts/pg_scratch.sh start "$pgdir")
  export VELLUM_BENCH_POSTGRES
fi

for name in "${names[@]}"; do
  echo "== $name"
  build/bin/"${name}_bench" --benchmark_format=json --benchmark_out=bench/results/"$name".json \
    --benchmark_out_format=json >/dev/null
  reference=bench/results/"$name".reference.jsonl
  : >"$reference"
  for script in bench/"${name}_pillow.py" bench/"${name}_reference.py"; do
    if [ -f "$script" ]; then /usr/bin/python3 "$script" >>"$reference"; fi
  done
  /usr/bin/python3 bench/compare.py bench/results/"$name".json "$reference"
done
