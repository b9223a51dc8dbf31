#!/usr/bin/env bash
# Configures and builds one flavour of the tree.
#   scripts/build.sh release|asan|tsan|fuzz
# The tsan flavour builds only what the concurrency and stress tests need: the collection
# server, the Easel with its codecs and drawing layer, and the host with its tools; the
# fuzz flavour only the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
jobs=$(nproc)
targets=()
case "$flavour" in
  release) dir=build; args=(-DCMAKE_BUILD_TYPE=Release) ;;
  asan) dir=build-asan; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUM_SANITIZE=ON -DVELLUM_BENCH=OFF) ;;
  tsan) dir=build-tsan
        targets=(--target test_vellumset test_stress test_host vellum vellum-host vellum-regsvr)
        args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUM_TSAN=ON -DVELLUM_BENCH=OFF) ;;
  fuzz) dir=build-fuzz
        targets=(--target $(basename -s .cpp fuzz/*_fuzz.cpp))
        args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUM_FUZZ=ON
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "usage: $0 release|asan|tsan|fuzz" >&2; exit 2 ;;
esac

# A compiler cache, where one is installed, shares objects between builds and checkouts.
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD"
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j "$jobs" "${targets[@]}"
