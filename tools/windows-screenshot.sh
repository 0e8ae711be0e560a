#!/bin/sh
# Takes the picture of the Windows single-camera window in the README:
# build-windows/tessell.exe runs in window mode on a Wine desktop under Xvfb
# (Wine draws the window's caption there) against a simulated camera,
# downloads an image by itself (AutoDL: the image's bcdDevice is above the
# camera's), and once the result is written the screen is captured and cut
# to the window.
#
#   tools/windows-screenshot.sh [OUT.png]      (default docs/windows-window.png)
#
# Needs wine, xvfb-run (xvfb, xauth), xwd (x11-apps) and convert (ImageMagick).
# TESSELL_EXE and TESSELL_MKIMAGE name other builds of the two programs; WINEPREFIX another Wine prefix (by
# default build-windows/wineprefix-shot, created on first use).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
exe=${TESSELL_EXE:-$root/build-windows/tessell.exe}
out=${1:-$root/docs/windows-window.png}
export WINEPREFIX="${WINEPREFIX:-$root/build-windows/wineprefix-shot}"
export WINEDEBUG=-all

for tool in wine winepath xvfb-run xwd convert; do
    command -v "$tool" >/dev/null || { echo "windows-screenshot: $tool is not installed" >&2; exit 2; }
done
[ -f "$exe" ] || { echo "windows-screenshot: $exe is missing (tools/build-windows.sh)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wine wineboot -i </dev/null >/dev/null 2>&1
fi

# The firmware image: a synthetic one of family d (ZLTA_7310 cameras),
# bcdDevice 0102 against the simulated camera's 0100.
image="$work/SF.bin"
mkimage=${TESSELL_MKIMAGE:-$root/build-windows/tessell-mkimage.exe}
if [ -f "$mkimage" ]; then
    wine "$mkimage" --family d --vid 1209 --pid 0002 --bcd 0102 -o "$(winepath -w "$image")" \
        >/dev/null
elif [ -x "$root/build/tessell-mkimage" ]; then
    "$root/build/tessell-mkimage" --family d --vid 1209 --pid 0002 --bcd 0102 -o "$image" >/dev/null
else
    echo "windows-screenshot: no tessell-mkimage in build-windows/ or build/" >&2
    exit 2
fi

cat >"$work/station.json" <<'JSON'
{"time_scale": 0.05,
 "devices": [{"friendly_name": "Bench camera", "chip_id": "0x80", "flash": {"part": "0x79"}}]}
JSON
printf '[SETTING]\r\nBIN=SF.bin\r\nAutoDL=1\r\nWriteLog=1\r\n[LOG]\r\nFORMAT={result}\r\n' \
    >"$work/setting.ini"

cat >"$work/run.sh" <<'RUN'
#!/bin/sh
# Inside the virtual screen: start the tool, wait for its result, capture.
set -eu
wine explorer /desktop=tessell,1000x700 "$EXE" &
tool=$!
waited=0
until grep -q Pass "$WORK/burn_result.txt" 2>/dev/null; do
    if [ "$waited" -ge 1200 ] || ! kill -0 "$tool" 2>/dev/null; then
        echo "windows-screenshot: no download result within 120 s" >&2
        kill "$tool" 2>/dev/null || true
        exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
done
# Let the window finish painting the outcome.
sleep 2
xwd -root -silent >"$WORK/screen.xwd"
kill "$tool" 2>/dev/null || true
wait "$tool" 2>/dev/null || true
RUN

TESSELL_HOME=$(winepath -w "$work") TESSELL_SIM=$(winepath -w "$work/station.json") \
    EXE="$exe" WORK="$work" \
    xvfb-run -a -s "-screen 0 1280x1024x24 -br" sh "$work/run.sh"

# Cut away the black screen around Wine's desktop, then the desktop itself.
mkdir -p "$(dirname "$out")"
convert "xwd:$work/screen.xwd" -trim +repage -fuzz 2% -trim +repage "$out"
echo "windows-screenshot: wrote $out"
