#!/usr/bin/env bash
# Installs every Debian package that building, testing, fuzzing and benchmarking need.
# Idempotent: packages already present are left alone, and apt runs only when one is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # the layout and fault checks
  clang-format clang-tidy
  # test and benchmark frameworks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # image libraries the codecs call
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libtiff-dev
  # WebP and AVIF (libavif decodes with dav1d and encodes with aom), EXIF
  libwebp-dev libavif-dev libexif-dev
  # drawing, fonts, database, scripting
  libcairo2-dev libfontconfig-dev libfreetype-dev fonts-liberation fonts-dejavu-core
  libsqlite3-dev libpq-dev duktape-dev
  # the database tests and benchmarks start a PostgreSQL server of their own; the
  # benchmarks' references are Python's sqlite3 and psycopg2
  postgresql python3-psycopg2
  # the web page host: its HTTP engine, its configuration file reader, the system's
  # table of content types
  libmicrohttpd-dev libinih-dev media-types
  # the main job fetches the web page host's pages; the browser test drives the demo site,
  # and the codec tests have it show the WebP and AVIF files we write
  curl chromium
  # nginx in front of page hosts (tests), and the load generator and the peers the
  # host's benchmark measures against
  nginx wrk python3-gunicorn
  # the Debian package: CPack's dependency lookup and its test
  dpkg-dev file
  # independent oracles for test inputs and comparisons
  imagemagick python3-pil giflib-tools libtiff-tools libjpeg-turbo-progs webp libavif-bin
  # the benchmarks' second imaging peer, driven through its C interface
  libvips-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js runs the browser test's driver; any installed node and npm will do.
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)

# The browser test's driver (puppeteer-core), from npm into a git-ignored folder, when
# its lock file is newer than what is installed.
install_driver() {
  local dir=tests/browser
  [ "$dir/node_modules/.package-lock.json" -nt "$dir/package-lock.json" ] && return 0
  echo "setup: installing the browser test's driver (npm ci in $dir)"
  (cd "$dir" && npm ci --no-audit --no-fund --omit=dev --loglevel=error)
}
if [ ${#missing[@]} -eq 0 ]; then
  install_driver
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
install_driver
