#!/usr/bin/env bash
# The Windows build's tests, headless on Linux: cross-builds build-windows/
# (tools/build-windows.sh), runs the Windows test program under Wine, then
# compares the Linux and the Windows tool on simulated stations
# (tests/windows/parity.sh; needs the Linux tree build/, built when missing),
# the Windows tool also with its own backend, the cameras behind the test
# camera filter it registers in the prefix (tessell-test-camera.dll).
# The Wine prefix lives in build-windows/wine, made once; its server is
# started before the tests and stopped at the end.
#
# The test program runs as one Wine process per group rather than one per
# test (ctest --test-dir build-windows does the latter, for a developer who
# wants one test): starting Wine costs about a second, 300 times over.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
export WINEPREFIX="$here/build-windows/wine" WINEDEBUG=-all
TIMEFORMAT="   took %0R s"
echo "== Windows build (MinGW-w64)"
time tools/build-windows.sh
[ -x build/tessell ] || tools/build.sh build -DTESSELL_WERROR=ON

# Already running when the build made the prefix: then it is simply reused.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# One wineboot keeps the prefix up to date and its services started.
wine wineboot -u </dev/null >/dev/null 2>&1 || true

tests=build-windows/tessell_tests.exe
# A run cut short may have left test cameras registered (parity.sh); the
# test program expects a machine without cameras.
wine regsvr32 /s /u "Z:${here//\//\\}\\build-windows\\tessell-test-camera.dll" >/dev/null 2>&1 || true
drivers='HKCU\Software\Wine\Drivers'
# Without a display Wine's X11 driver makes every COM start wait for one;
# the null driver answers at once (windows exist but are never drawn).
wine reg add "$drivers" /v Graphics /d null /f >/dev/null 2>&1
echo "== Windows tests under Wine"
time timeout 1200 wine "$tests" --gtest_filter='-Win32*' --gtest_brief=1
echo "== Linux and Windows tool on the same stations"
time tests/windows/parity.sh build build-windows
# The Win32 windows are drawn on an X display of their own.
wine reg delete "$drivers" /v Graphics /f >/dev/null 2>&1 || true
wineserver -k 2>/dev/null || true
wineserver -p
echo "== Win32 window tests under Wine and Xvfb"
time timeout 300 xvfb-run -a wine "$tests" --gtest_filter='Win32*' --gtest_brief=1
