#!/usr/bin/env bash
# Builds the Debian package from the release build and prints its path:
#   out/package/vellum_<version>_amd64.deb
# Install it with `apt install ./out/package/vellum_*_amd64.deb`; it registers the
# modules in /var/lib/vellum/registry and installs vellum-host.service disabled.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release >&2
mkdir -p out/package
rm -f out/package/vellum_*.deb
cpack --config build/CPackConfig.cmake -B "$PWD/out/package" >&2
ls out/package/vellum_*_amd64.deb
