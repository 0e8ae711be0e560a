#!/usr/bin/env bash
# The main job: installs what is missing, builds build/tessell and downloads a
# firmware image into a simulated camera, unattended, as a factory script
# would. Everything it writes goes into a scratch folder that is kept for a
# look afterwards (its path is printed at the end).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
tools/install-deps.sh
tools/build.sh build

home="$(mktemp -d "${TMPDIR:-/tmp}/tessell-demo.XXXXXX")"

echo "== build/tessell-mkimage  (a firmware image for a ZLTA_7315 camera)"
build/tessell-mkimage --family f --vid 0x1209 --pid 0x0002 --bcd 0x0102 \
    --manufacturer "Tessell demo" --serial "DEMO0001" -o "$home/image.bin"

# One simulated camera whose flash lives in a file; time runs 20 times faster, slow enough to see the progress bar on a terminal.
cat > "$home/station.json" <<'EOF'
{
  "time_scale": 0.05,
  "devices": [
    {"friendly_name": "Demo camera", "chip_id": "0xC0",
     "flash": {"part": "0x79", "file": "camera.flash"},
     "state_file": "camera.state"}
  ]
}
EOF
printf '[SETTING]\r\nWriteLog=1\r\n[LOG]\r\nFORMAT={Y}-{m}-{d} {H}:{M}:{S}{tab}{pid}{tab}{vid}{tab}{result}{tab}{errcode}\r\n' \
    > "$home/setting.ini"

echo "== build/tessell list  (the cameras the tool finds)"
TESSELL_SIM="$home/station.json" TESSELL_HOME="$home" build/tessell list

echo "== build/tessell -f image.bin -silent  (the download, unattended)"
status=0
TESSELL_SIM="$home/station.json" TESSELL_HOME="$home" \
    build/tessell -f "$home/image.bin" -silent || status=$?
echo "== exit status $status  (0 passed)"

echo "== Result.txt: $(cat "$home/Result.txt")"
echo "== burn_result.txt:"
cat "$home/burn_result.txt"
if cmp -s -n 2 "$home/image.bin" "$home/camera.flash" &&
    cmp -s -i 3 -n $(( $(stat -c %s "$home/image.bin") - 3 )) "$home/image.bin" "$home/camera.flash"; then
    echo "== the camera's flash now holds the image (its flash-type byte set for the part)"
else
    echo "== the camera's flash does not hold the image"
fi
echo "== build/tessell list  (the camera now reports the image's identity)"
TESSELL_SIM="$home/station.json" TESSELL_HOME="$home" build/tessell list
echo "== files in $home"
exit "$status"
