#!/usr/bin/env bash
# The Linux and the Windows build against the same simulated stations: each
# unattended case runs once with build/tessell and once with
# build-windows/tessell.exe under Wine, each in a fresh copy of the station,
# and both must end with the same exit status and leave byte-identical files
# (result files, logs, serial-number file, the cameras' flash).
#
# The first cases give the Windows tool the simulated platform (TESSELL_SIM).
# The "camera-" cases give it none: the station's cameras sit behind the test
# camera filter (build-windows/tessell-test-camera.dll, registered in the Wine
# prefix with regsvr32), and the tool finds and drives them through its own
# Windows backend: the system device enumerator, the monikers' property bags,
# IKsControl, IKsTopologyInfo and the vendor interface. Wine has no device
# tree, so where a camera sits (hub, port, VID, PID) comes from a stand-in
# setupapi.dll next to a copy of the tool, answered by the test camera.
#
# Masked before the comparison, and only these: the time stamps of log lines
# ("[2026/12/08 19:06:44]", the two runs do not start in the same second) and
# the station folder's own path (Z:\tmp\... on Windows, /tmp/... on Linux).
#   tests/windows/parity.sh [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
linux="$here/${1:-build}/tessell"
windows="$here/${2:-build-windows}/tessell.exe"
testCamera="$here/${2:-build-windows}/tessell-test-camera.dll"
testSetupapi="$here/${2:-build-windows}/tessell-test-setupapi.dll"
mkimage="$here/${1:-build}/tessell-mkimage"
for program in "$linux" "$windows" "$mkimage" "$testCamera" "$testSetupapi"; do
    [ -x "$program" ] || { echo "parity: $program is not built" >&2; exit 2; }
done
export WINEPREFIX="${WINEPREFIX:-$here/${2:-build-windows}/wine}" WINEDEBUG=-all
scratch="$(mktemp -d "${TMPDIR:-/tmp}/tessell-parity.XXXXXX")"
# The tool with the test camera and the stand-in next to it.
cameraBin="$scratch/camera-bin"
mkdir -p "$cameraBin"
cp "$windows" "$testCamera" "$cameraBin/"
cp "$testSetupapi" "$cameraBin/setupapi.dll"
# The prefix is left without test cameras, whatever happens here.
trap 'wine regsvr32 /s /u "$(windowsPath "$cameraBin/tessell-test-camera.dll")" >/dev/null 2>&1
    rm -rf "$scratch"' EXIT
failures=0

# Z:\... for a Unix path: Wine's drive Z: is the Unix root.
windowsPath() { printf 'Z:%s' "${1//\//\\}"; }

# station NAME: writes the station of case NAME into the folder $2.
station() {
    local name="$1" dir="$2" faults="" count=1 settings='[SETTING]\r\nWriteLog=1\r\n'
    # Per camera: chip id, and which interfaces its driver offers ("both":
    # the vendor interface next to the kernel-streaming ones).
    local chips=(0xC0 0xC0) access=(topology topology) image=image.bin
    case "$name" in
    failing-download) faults=', "faults": [{"corrupt_block": 2}]' ;;
    camera-h) chips=(0x80) access=(both) image=image-h.bin ;;
    camera-unplug) faults=', "faults": [{"unplug_after": 5, "in_download": true}]' ;;
    camera-list) count=2; chips=(0xC0 0x80) access=(topology both) ;;
    camera-port) count=2 ;;
    camera-refused) image=image-h.bin ;; # an image for another chip
    serial-number) settings='[SETTING]\r\nWriteLog=1\r\nSNFile=sn.txt\r\n'
        printf 'AB12****\r\nAB12003F\r\n' > "$dir/sn.txt" ;;
    burn) count=2; settings='[SETTING]\r\nMultipleMode=1\r\nNUM=2\r\nBIN=image.bin\r\n' ;;
    esac
    printf "$settings" > "$dir/setting.ini"
    {
        printf '{"time_scale": 0.02, "devices": ['
        for ((n = 1; n <= count; n++)); do
            [ "$n" -gt 1 ] && printf ', '
            printf '{"hub": "parity-hub", "port": %d, "chip_id": "%s", ' "$n" "${chips[n - 1]}"
            printf '"friendly_name": "Parity Camera %d", "access": "%s", ' "$n" "${access[n - 1]}"
            printf '"flash": {"part": "0x79", "file": "cam%d.flash"}%s}' "$n" "$faults"
        done
        printf ']}\n'
    } > "$dir/station.json"
    cp "$scratch/$image" "$dir/image.bin"
}

# run SIDE NAME DIR ARGS...: one run of the tool of SIDE in DIR; the exit
# status goes to DIR/exit-status. A run that does not end within $limit
# seconds is stopped (status 124) instead of holding up CI.
limit=120
run() {
    local side="$1" name="$2" dir="$3"; shift 3
    local status=0
    if [ "$side" = linux ]; then
        (cd "$dir" && TESSELL_SIM="$dir/station.json" TESSELL_HOME="$dir" TMPDIR="$dir" \
            XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" \
            timeout "$limit" "$linux" "${@//@DIR@/$dir}" </dev/null >"$dir/stdout.txt" 2>"$dir/stderr.txt") || status=$?
    elif [ "$side" = camera ]; then
        local args=() arg station
        for arg in "$@"; do args+=("${arg//@DIR@/$(windowsPath "$dir")}"); done
        station="$(windowsPath "$dir/station.json")"
        (cd "$dir" && export TESSELL_TEST_CAMERA_STATION="$station" &&
            wine regsvr32 /s "$(windowsPath "$cameraBin/tessell-test-camera.dll")" &&
            WINEDLLOVERRIDES=setupapi=n TESSELL_HOME="$(windowsPath "$dir")" \
                timeout "$limit" wine "$cameraBin/tessell.exe" "${args[@]}" </dev/null >"$dir/stdout.txt" \
                2>"$dir/stderr.txt") || status=$?
    else
        local args=() arg
        for arg in "$@"; do args+=("${arg//@DIR@/$(windowsPath "$dir")}"); done
        # TMPDIR is Wine's own too and must stay a Unix path; on drive Z: it
        # names the same folder.
        (cd "$dir" && TESSELL_SIM="$(windowsPath "$dir/station.json")" \
            TESSELL_HOME="$(windowsPath "$dir")" TMPDIR="$dir" \
            timeout "$limit" wine "$windows" "${args[@]}" </dev/null >"$dir/stdout.txt" 2>"$dir/stderr.txt") || status=$?
    fi
    echo "$status" > "$dir/exit-status"
}

# The files the comparison covers, with time stamps and the folder masked.
normalised() {
    local dir="$1" file="$2"
    [ -f "$dir/$file" ] || { echo "(no $file)"; return; }
    case "$file" in
    *.flash) sha256sum < "$dir/$file" ;;
    *) sed -e 's#\[[0-9]\{4\}/[0-9][0-9]/[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\]#[TIME]#g' \
           -e "s#$(windowsPath "$dir" | sed 's/\\/\\\\/g')#@DIR@#g" -e "s#$dir#@DIR@#g" \
           -e 's#@DIR@\(\\[^"]*\)#@DIR@\1#g' "$dir/$file" ;;
    esac
}

compare() {
    local name="$1"; shift
    local linuxDir="$scratch/$name-linux" windowsDir="$scratch/$name-windows"
    mkdir -p "$linuxDir" "$windowsDir"
    station "$name" "$linuxDir"
    station "$name" "$windowsDir"
    local side=windows
    case "$name" in camera-*) side=camera ;; esac
    if [ "$name" = burn ]; then
        run linux "$name" "$linuxDir" ports set parity-hub:1 parity-hub:2
        run windows "$name" "$windowsDir" ports set parity-hub:1 parity-hub:2
    fi
    run linux "$name" "$linuxDir" "$@"
    run "$side" "$name" "$windowsDir" "$@"
    local differs=0 file present=() output=()
    # What a listing prints is its result.
    case "$name" in camera-list | camera-port) output=(stdout.txt) ;; esac
    for file in exit-status "${output[@]}" Result.txt burn_log.txt burn_result.txt CmdModeLog.log \
        sn.txt cam1.flash cam2.flash; do
        [ -f "$linuxDir/$file" ] && present+=("$file")
        if ! diff -u --label "linux/$file" --label "windows/$file" \
            <(normalised "$linuxDir" "$file") <(normalised "$windowsDir" "$file") >"$scratch/diff"; then
            differs=1
            echo "parity: $name: $file differs" >&2
            head -20 "$scratch/diff" >&2
        fi
    done
    if [ "${#present[@]}" -lt 3 ]; then
        differs=1
        echo "parity: $name: the Linux run left almost nothing to compare: ${present[*]}" >&2
    fi
    if [ "$differs" = 0 ]; then
        echo "parity: $name: same exit status ($(cat "$linuxDir/exit-status")) and files: ${present[*]}"
    else
        failures=$((failures + 1))
        sed 's/^/  linux stderr: /' "$linuxDir/stderr.txt" | head -5 >&2
        sed 's/^/  windows stderr: /' "$windowsDir/stderr.txt" | head -5 >&2
    fi
}

"$mkimage" --family f --vid 0x1209 --pid 0x0002 --bcd 0x0102 --manufacturer "Parity" \
    -o "$scratch/image.bin" >/dev/null
"$mkimage" --family d --vid 0x1209 --pid 0x0003 --bcd 0x0103 --manufacturer "Parity" \
    -o "$scratch/image-h.bin" >/dev/null
wineserver -p 2>/dev/null || true

compare passing -f @DIR@/image.bin -silent
compare failing-download -f @DIR@/image.bin -silent
compare missing-image -f @DIR@/missing.bin -silent
compare messages -s @DIR@/image.bin -silent -m -y
compare serial-number -f @DIR@/image.bin -silent
compare burn burn --once
compare camera-list list --json
compare camera-k -f @DIR@/image.bin -silent
compare camera-h -f @DIR@/image.bin -silent
compare camera-refused -f @DIR@/image.bin -silent
compare camera-unplug -f @DIR@/image.bin -silent
# The second of two cameras by its port: the first keeps its flash.
compare camera-port flash --port parity-hub:2 --json image.bin

[ "$failures" = 0 ] || { echo "parity: $failures case(s) differ" >&2; exit 1; }
