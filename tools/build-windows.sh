#!/usr/bin/env bash
# Cross-builds tessell.exe (and, unless TESSELL_WINDOWS_TESTS=OFF, the Windows
# test program) into build-windows/ with MinGW-w64, installing the packages of
# packaging/windows-packages.txt that are missing. Extra arguments go to cmake.
#   tools/build-windows.sh [cmake options...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
dir="$here/build-windows"
"$here/tools/install-deps.sh" "$here/packaging/windows-packages.txt"

# -O2: GCC 12 at -O3 warns of overlapping copies inside libstdc++ that cannot
# happen (-Wrestrict), which -Werror would turn into a failed build.
# The test discovery runs the test program under Wine while it builds: the
# prefix lives in the build tree and is made once.
export WINEPREFIX="${WINEPREFIX:-$dir/wine}" WINEDEBUG="${WINEDEBUG:--all}"
tests="${TESSELL_WINDOWS_TESTS:-ON}"
if [ "$tests" = ON ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wine wineboot -i </dev/null >/dev/null 2>&1
fi

cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTESSELL_WERROR=ON -DTESSELL_TESTS="$tests" "$@" >/dev/null
cmake --build "$dir" -j2

# Only system DLLs may be imports: the .exe must run on a machine with no
# MinGW runtime.
imports="$(x86_64-w64-mingw32-objdump -p "$dir/tessell.exe" | sed -n 's/^\tDLL Name: //p')"
foreign="$(printf '%s\n' "$imports" | grep -viE '^(kernel32|advapi32|user32|gdi32|shell32|ole32|oleaut32|comctl32|comdlg32|msvcrt|setupapi|cfgmgr32|mfplat|mf|mfreadwrite|ksuser|ws2_32|api-ms-win-.*)\.dll$' || true)"
if [ -n "$foreign" ]; then
    echo "tessell.exe imports DLLs that are not part of Windows: $foreign" >&2
    exit 1
fi
