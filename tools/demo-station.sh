#!/usr/bin/env bash
# A multi-camera station without a display: four simulated cameras on one
# hub, their ports taught with `tessell ports set`, burned together with
# `tessell burn --once`. One of them leaves the bus in the middle of its
# burn: it ends in Error, the other three Complete, and the run exits 1.
# Everything goes into a scratch folder that is kept for a look afterwards.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
tools/install-deps.sh
tools/build.sh build

home="$(mktemp -d "${TMPDIR:-/tmp}/tessell-station.XXXXXX")"
export TESSELL_SIM="$home/station.json" TESSELL_HOME="$home" \
    XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home"

build/tessell-mkimage --family f --vid 0x1209 --pid 0x0002 --bcd 0x0102 \
    --manufacturer "Tessell demo" -o "$home/sf.bin"
# Time runs 20 times faster; camera 3 is unplugged after 40 requests.
cat > "$home/station.json" <<'JSON'
{
  "time_scale": 0.05,
  "devices": [
    {"hub": "demo-hub", "port": 1, "chip_id": "0xC0", "flash": {"part": "0x79", "file": "cam1.flash"}},
    {"hub": "demo-hub", "port": 2, "chip_id": "0xC0", "flash": {"part": "0x79", "file": "cam2.flash"}},
    {"hub": "demo-hub", "port": 3, "chip_id": "0xC0", "flash": {"part": "0x79", "file": "cam3.flash"},
     "faults": [{"unplug_after": 40}]},
    {"hub": "demo-hub", "port": 4, "chip_id": "0xC0", "flash": {"part": "0x79", "file": "cam4.flash"}}
  ]
}
JSON
printf '[SETTING]\r\nMultipleMode=1\r\nNUM=4\r\nBIN=sf.bin\r\n' > "$home/setting.ini"

echo "== build/tessell ports set demo-hub:1 ... demo-hub:4  (the station's ports)"
build/tessell ports set demo-hub:1 demo-hub:2 demo-hub:3 demo-hub:4
echo "== build/tessell burn --once  (all four at once)"
status=0
build/tessell burn --once || status=$?
echo "== exit status $status  (0 all Complete, 1 a camera in Error)"
echo "== build/tessell burn --once --json, the last line (what scripts read)"
build/tessell burn --once --json | tail -n 1 || true
echo "== files in $home"
exit 0
