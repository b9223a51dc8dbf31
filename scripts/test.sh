#!/usr/bin/env bash
# Builds and runs every test: the layout check, clang-tidy's fault checks, the release
# suite (with the member reference's staleness check), the Debian package installed into a
# scratch root, the demo site driven in headless Chromium (screenshots in out/browser/),
# the same suite under AddressSanitizer and UndefinedBehaviorSanitizer (with every fuzz
# target replaying its seed corpus), and the concurrency tests under ThreadSanitizer.
# Fuzzing itself takes longer than a test run may: scripts/fuzz.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc)

bash scripts/check_format.sh

bash scripts/build.sh release
bash scripts/check_tidy.sh build
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 600
bash scripts/package_test.sh
bash scripts/browser_test.sh

bash scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan_suppressions.txt:print_suppressions=0 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 1200

bash scripts/build.sh tsan
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan_suppressions.txt
build-tsan/bin/test_vellumset --gtest_filter='Concurrency*'
build-tsan/bin/test_stress
build-tsan/bin/test_host --gtest_filter='HostTest.ImagePagesUnderConcurrentLoad:HostTest.Concurrent*'
unset TSAN_OPTIONS

echo "All tests passed."
