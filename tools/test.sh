#!/usr/bin/env bash
# The whole test suite, as CI runs it: an optimised build with warnings as
# errors, then the same tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
tools/install-deps.sh
tools/format-check.sh

jobs="$(nproc 2>/dev/null || echo 2)"

echo "== build (warnings are errors)"
tools/build.sh build -DTESSELL_WERROR=ON
echo "== tests"
ctest --test-dir build --output-on-failure --timeout 300 -j "$jobs"

echo "== build with AddressSanitizer + UndefinedBehaviorSanitizer"
tools/build.sh build-asan -DTESSELL_WERROR=ON -DTESSELL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DTESSELL_BENCH=OFF
echo "== tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure --timeout 600 -j "$jobs"
tools/fuzz.sh
echo "== all tests passed"
