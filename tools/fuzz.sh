#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for a while on
# its seed corpus; any finding fails the script and leaves its input in
# build-fuzz/findings/.
#
#   tools/fuzz.sh            each target for FUZZ_SECONDS (default 8) seconds, as CI runs it
#   tools/fuzz.sh 600        each target for ten minutes
#   tools/fuzz.sh 600 station_fuzz    one target
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
seconds="${1:-${FUZZ_SECONDS:-8}}"
only="${2:-}"

echo "== build the fuzz targets (clang, ASan + UBSan)"
# -O1 with line tables only: quick to build, fast enough to fuzz, and
# findings still come with file and line.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSELL_FUZZ=ON -DTESSELL_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" -DTESSELL_TESTS=OFF \
    -DTESSELL_BENCH=OFF -DTESSELL_GUI=OFF >/dev/null
cmake --build build-fuzz --target fuzz_targets

mkdir -p build-fuzz/findings
# The files targets rewrite on every input, in memory where there is some.
scratch="$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/tessell-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export TESSELL_FUZZ_SCRATCH="$scratch"
status=0
for source in fuzz/*_fuzz.cpp; do
    target="$(basename "$source" .cpp)"
    [ -z "$only" ] || [ "$only" = "$target" ] || continue
    [ -x "build-fuzz/fuzz/$target" ] || { echo "== $target: not built (missing library?)"; continue; }
    # New inputs go to a scratch copy: the corpus in the tree stays as reviewed.
    work="build-fuzz/corpus/$target"
    mkdir -p "$work"
    cp -n "fuzz/corpus/$target"/* "$work"/ 2>/dev/null || true
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="build-fuzz/findings/$target-")
    # The emulated camera's port reports every attach on standard error.
    [ "$target" = usbredir_fuzz ] && options+=(-close_fd_mask=2)
    echo "== $target (${seconds} s)"
    if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "build-fuzz/fuzz/$target" "${options[@]}" "$work" > "build-fuzz/$target.log" 2>&1; then
        echo "!! $target found a fault:"; tail -n 40 "build-fuzz/$target.log"; status=1
    fi
    grep -E '^stat::number_of_executed_units|^Done ' "build-fuzz/$target.log" || true
done
exit "$status"
