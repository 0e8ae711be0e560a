#!/usr/bin/env bash
# The Windows build's tests, headless on Linux: cross-builds build-windows/
# (tools/build-windows.sh), runs the Windows test program under Wine through
# ctest, then compares the Linux and the Windows tool on simulated stations
# (tests/windows/parity.sh; needs the Linux tree build/, built when missing).
# The Wine prefix lives in build-windows/wine, made once; its server is
# started before the tests and stopped at the end.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
export WINEPREFIX="$here/build-windows/wine" WINEDEBUG=-all
tools/build-windows.sh
[ -x build/tessell ] || tools/build.sh build -DTESSELL_WERROR=ON

# Already running when the build made the prefix: then it is simply reused.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# One wineboot keeps the prefix up to date and the server warm.
wine wineboot -u </dev/null >/dev/null 2>&1 || true
ctest --test-dir build-windows -j2 --timeout 120 --output-on-failure
tests/windows/parity.sh build build-windows
