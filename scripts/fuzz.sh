#!/usr/bin/env bash
# Builds the fuzz targets and runs each one for a while on a copy of its seed corpus.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 15 seconds, every target)
# FUZZ_TIMEOUT (default 20) is the seconds one input may take before it counts as a hang;
# a long run at a low priority on a busy machine needs more, as the clock is the wall's.
# With FUZZ_KEEP=1 what a run adds to the corpus is minimised (libFuzzer's -merge=1) against
# the seeds and kept beside them in fuzz/corpus/TARGET; the counts are printed for the
# record (docs/fuzzing.md).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
shift || true
bash scripts/build.sh fuzz >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
  corpus="$work/$target"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$target" ] && cp -r "fuzz/corpus/$target/." "$corpus/"
  echo "fuzz: $target for ${seconds}s"
  # Findings are written to the work directory and reported by the exit status. A slow
  # unit (over 10 s, which a starved run on a busy machine produces) is kept but is no
  # finding. The CPU time the run had is printed for the record.
  TIMEFORMAT="fuzz: $target had %U s of user and %S s of system CPU time"
  time (build-fuzz/bin/"$target" -max_total_time="$seconds" -rss_limit_mb=2560 \
    -malloc_limit_mb=2300 -timeout="${FUZZ_TIMEOUT:-20}" -print_final_stats=1 \
    -artifact_prefix="$work/$target-" "$corpus" 2>&1 |
    grep -E '^(stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' || true)
  if ls "$work/$target-"slow-unit-* >/dev/null 2>&1; then
    mkdir -p fuzz-findings && mv "$work/$target-"slow-unit-* fuzz-findings/
    echo "fuzz: $target: slow units copied to fuzz-findings/ (not failures)" >&2
  fi
  if ls "$work/$target-"* >/dev/null 2>&1; then
    mkdir -p fuzz-findings && cp "$work/$target-"* fuzz-findings/
    echo "fuzz: $target found a failing input (copied to fuzz-findings/)" >&2
    exit 1
  fi
  if [ "${FUZZ_KEEP:-0}" = 1 ]; then
    seeds=$(find "fuzz/corpus/$target" -type f 2>/dev/null | wc -l)
    grown=$(find "$corpus" -type f | wc -l)
    # The seeds stay as they are, by name; merging adds the grown inputs that reach
    # something they do not.
    minimised="$work/$target-minimised"
    mkdir -p "$minimised"
    [ -d "fuzz/corpus/$target" ] && cp -r "fuzz/corpus/$target/." "$minimised/"
    build-fuzz/bin/"$target" -merge=1 -rss_limit_mb=2560 -malloc_limit_mb=2300 -timeout="${FUZZ_TIMEOUT:-20}" \
      "$minimised" "$corpus" >/dev/null 2>&1
    rm -rf "fuzz/corpus/$target" && mv "$minimised" "fuzz/corpus/$target"
    kept=$(find "fuzz/corpus/$target" -type f | wc -l)
    echo "fuzz: $target corpus: $seeds seeds, $grown after the run, $kept kept (seeds included)"
  fi
done
