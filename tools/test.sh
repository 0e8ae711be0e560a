#!/usr/bin/env bash
# The whole test suite, as CI runs it: the formatting check, an optimised
# build with warnings as errors and all its tests, then the tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then under ThreadSanitizer
# (the two runtimes cannot share a process), then the fuzz targets for a few
# seconds each. Prints the time of each stage.
#
#   tools/test.sh                         the suite, one stage after another
#   tools/test.sh --alongside 'COMMAND'   COMMAND (a shell command line) runs
#       beside the sanitizer stages, started once the plain build is there;
#       its output is kept in build/alongside.log and shown at the end, and
#       the suite fails if it fails. CI runs the Windows build and tests, the
#       package check and the virtual machine this way: the Wine tests and
#       the emulated machine leave a core idle for much of their run, and the
#       sanitizer builds fill it.
#
# The sanitizer builds leave out the Qt windows and the benchmarks and build
# only the test program (with the tessell and tessell-mkimage it runs): the
# window tests drive the same controllers the core tests run under the
# sanitizers, through a Qt that is not instrumented, where ThreadSanitizer
# would see Qt's own locking as races. They are clang's, which compiles them
# in about half the time g++ takes; the fuzz targets (clang only) are built in
# the AddressSanitizer tree, so the core is compiled for both once.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
alongside=""
case "${1:-}" in
"") ;;
--alongside) [ $# -eq 2 ] || { echo "usage: tools/test.sh [--alongside COMMAND]" >&2; exit 2; }
    alongside="$2" ;;
*) echo "usage: tools/test.sh [--alongside COMMAND]" >&2; exit 2 ;;
esac
tools/install-deps.sh
tools/format-check.sh

jobs="$(nproc 2>/dev/null || echo 2)"

# The line tests' PostgreSQL server: a private one in a temporary folder,
# shared by the plain, AddressSanitizer and ThreadSanitizer runs (each test
# makes a database of its own on it), stopped when this script ends. An
# instrumented run exercises the same client code the plain run does, and a
# line test under the sanitizers is where a wrong buffer or a racing
# connection would show.
line_server="$(mktemp -d "${TMPDIR:-/tmp}/tessell-line.XXXXXX")"
stop_line_server() {
    tools/pg-test-server.sh stop "$line_server/pg" >/dev/null 2>&1 || true
    rm -rf "$line_server"
}
alongside_pid=""
finish() {
    # A suite that stops early (a failed stage) takes the command beside it
    # down too, instead of leaving it running into the next CI job.
    [ -z "$alongside_pid" ] || kill -- -"$alongside_pid" 2>/dev/null || true
    stop_line_server
}
trap finish EXIT
TESSELL_TEST_DATABASE="$(tools/pg-test-server.sh start "$line_server/pg")"
export TESSELL_TEST_DATABASE
TIMEFORMAT="   took %0R s (CPU: %0U s user, %0S s system)"

# Configures DIR for clang with the given options and builds the given targets.
# Line tables are all the sanitizers' reports need, and build faster.
build_sanitized() {
    local dir="$1" targets="$2"; shift 2
    # A tree left by an earlier g++ build starts afresh: on a change of
    # compiler CMake drops its cache and with it the options given here.
    if [ -f "$here/$dir/CMakeCache.txt" ] &&
        ! grep -Eq '^CMAKE_CXX_COMPILER:[A-Z]+=(.*/)?clang\+\+$' "$here/$dir/CMakeCache.txt"; then
        rm -rf "${here:?}/$dir"
    fi
    cmake -S "$here" -B "$here/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSELL_WERROR=ON \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
        -DTESSELL_GUI=OFF -DTESSELL_BENCH=OFF "$@" >/dev/null
    # shellcheck disable=SC2086 # a list of target names
    cmake --build "$here/$dir" --target $targets
}

echo "== build (warnings are errors)"
time tools/build.sh build -DTESSELL_WERROR=ON -DTESSELL_TESTS_DEBUG_INFO=-g1 -DTESSELL_TESTS_OPTIMIZE=-Og
if [ -n "$alongside" ]; then
    echo "== beside the rest, in its own process group: $alongside (output: build/alongside.log)"
    alongside_log="$here/build/alongside.log"
    set -m
    (
        start=$SECONDS
        status=0
        bash -c "$alongside" </dev/null || status=$?
        echo "== the command beside the suite ended with status $status after $((SECONDS - start)) s"
        exit "$status"
    ) >"$alongside_log" 2>&1 &
    alongside_pid=$!
    set +m
fi
echo "== tests"
time ctest --test-dir build --output-on-failure --timeout 300 -j "$jobs"

echo "== build with AddressSanitizer + UndefinedBehaviorSanitizer (and the fuzz targets)"
time build_sanitized build-asan "tessell_tests fuzz_targets" -DTESSELL_SANITIZE=ON -DTESSELL_FUZZ=ON
echo "== tests under AddressSanitizer + UndefinedBehaviorSanitizer"
time ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure --timeout 600 -j "$jobs"

echo "== build with ThreadSanitizer (the test files that run threads: tools/tsan-tests.cmake)"
time build_sanitized build-tsan tessell_tests -DTESSELL_TSAN=ON
echo "== tests under ThreadSanitizer"
time TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure --timeout 600 -j "$jobs"

time FUZZ_BUILD_DIR=build-asan FUZZ_SECONDS="${FUZZ_SECONDS:-5}" tools/fuzz.sh

if [ -n "$alongside_pid" ]; then
    echo "== waiting for the command beside the suite"
    alongside_status=0
    wait "$alongside_pid" || alongside_status=$?
    alongside_pid=""
    cat "$alongside_log"
    [ "$alongside_status" -eq 0 ] || { echo "== the command beside the suite failed" >&2; exit 1; }
fi
echo "== all tests passed in $SECONDS s"
