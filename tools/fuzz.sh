#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for a while on
# its seed corpus; any finding fails the script and leaves its input in
# build-fuzz/findings/.
#
#   tools/fuzz.sh            each target for FUZZ_SECONDS (default 8) seconds, as CI runs it
#   tools/fuzz.sh 600        each target for ten minutes
#   tools/fuzz.sh 600 station_fuzz    one target
#
# FUZZ_BUILD_DIR=DIR uses a tree already configured with -DTESSELL_FUZZ=ON
# (tools/test.sh's AddressSanitizer build) instead of build-fuzz/; findings
# then go to DIR/findings/. The targets run side by side, one per processor.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
seconds="${1:-${FUZZ_SECONDS:-8}}"
only="${2:-}"

build="${FUZZ_BUILD_DIR:-build-fuzz}"
echo "== build the fuzz targets (clang, ASan + UBSan) in $build"
if [ -z "${FUZZ_BUILD_DIR:-}" ]; then
    # -O1 with line tables only: quick to build, fast enough to fuzz, and
    # findings still come with file and line.
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSELL_FUZZ=ON -DTESSELL_SANITIZE=ON \
        -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" -DTESSELL_TESTS=OFF \
        -DTESSELL_BENCH=OFF -DTESSELL_GUI=OFF >/dev/null
fi
cmake --build "$build" --target fuzz_targets

mkdir -p "$build/findings"
# The files targets rewrite on every input, in memory where there is some.
scratch="$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/tessell-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

# Runs one target on its corpus; its output goes to $build/TARGET.log.
run_target() {
    local target="$1" work="$build/corpus/$1"
    # New inputs go to a scratch copy: the corpus in the tree stays as reviewed.
    mkdir -p "$work" "$scratch/$target"
    cp -n "fuzz/corpus/$target"/* "$work"/ 2>/dev/null || true
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                   -artifact_prefix="$build/findings/$target-")
    # The emulated camera's port reports every attach on standard error.
    [ "$target" = usbredir_fuzz ] && options+=(-close_fd_mask=2)
    # Each target has a scratch folder of its own: targets run side by side.
    TESSELL_FUZZ_SCRATCH="$scratch/$target" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/fuzz/$target" "${options[@]}" "$work" >"$build/$target.log" 2>&1
}

# Reports a finished target in the order they were started.
report() {
    local target="$1" result="$2"
    echo "== $target (${seconds} s)"
    if [ "$result" -ne 0 ]; then
        echo "!! $target found a fault:"
        tail -n 40 "$build/$target.log"
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^Done ' "$build/$target.log" || true
}

targets=()
for source in fuzz/*_fuzz.cpp; do
    target="$(basename "$source" .cpp)"
    [ -z "$only" ] || [ "$only" = "$target" ] || continue
    [ -x "$build/fuzz/$target" ] || { echo "== $target: not built (missing library?)"; continue; }
    targets+=("$target")
done

jobs="$(nproc 2>/dev/null || echo 1)"
status=0
for ((first = 0; first < ${#targets[@]}; first += jobs)); do
    batch=("${targets[@]:first:jobs}")
    pids=()
    for target in "${batch[@]}"; do
        run_target "$target" &
        pids+=($!)
    done
    for i in "${!batch[@]}"; do
        result=0
        wait "${pids[$i]}" || result=$?
        report "${batch[$i]}" "$result"
    done
done
exit "$status"
