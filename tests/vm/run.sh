#!/usr/bin/env bash
# The Linux backend against the real uvcvideo driver: boots a Debian 12 guest
# kernel under QEMU (TCG) once, plugs cameras emulated by build/tessell-usbcam
# in and out of it, runs build/tessell in the guest and checks the outcome on
# the host (the emulated cameras' flash and state files, the guest's output
# on the serial console). Every wait is bounded: a hang fails the suite.
#
#   tests/vm/run.sh            # everything it writes is in build/vm-run
#
# The guest kernel is fetched once into build/vm-cache (the package that
# linux-image-amd64 depends on). VM_TIMEOUT (seconds, default 600) bounds the
# whole run.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$here"

suite_limit="${VM_TIMEOUT:-600}"
cache="$here/build/vm-cache"
run="$here/build/vm-run"
suite_start=$(date +%s.%N)

say() { printf '== %s\n' "$*"; }
die() {
    printf 'vm: %s\n' "$*" >&2
    exit 1
}
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi

# ---------------------------------------------------------------- packages, build
tools/install-deps.sh

say "build: tessell, tessell-usbcam, tessell-mkimage"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tessell tessell-mkimage
cmake --build build --target tessell-usbcam ||
    die "build/tessell-usbcam could not be built (is libusbredirparser-dev installed?)"

# ---------------------------------------------------------------- guest kernel
# The kernel package linux-image-amd64 now points at: it moves with security
# updates, so it is resolved on every run and fetched when not yet cached.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

fetch_kernel() {
    local package version dir tmp deb
    package="$(kernel_package)"
    if [ -z "$package" ]; then
        "${as_root[@]}" apt-get update -qq || true
        package="$(kernel_package)"
    fi
    if [ -z "$package" ]; then
        # No package lists (offline): the newest kernel already cached.
        dir="$(find "$cache" -maxdepth 1 -name 'kernel-*' 2>/dev/null | sort -V | tail -n 1)"
        if [ -z "$dir" ] || [ ! -e "$dir/ready" ]; then
            die "cannot resolve linux-image-amd64 and no kernel is cached"
        fi
        kernel="${dir%/}"
        return
    fi
    version="${package#linux-image-}"
    kernel="$cache/kernel-$version"
    [ -e "$kernel/ready" ] && return

    say "guest kernel: fetching $package"
    mkdir -p "$cache"
    tmp="$cache/unpack"
    rm -rf "$tmp" "$kernel" "$cache"/*.deb
    # Stale package lists name a file the mirror no longer has: refresh once.
    (cd "$cache" && apt-get download "$package") ||
        { "${as_root[@]}" apt-get update -qq && (cd "$cache" && apt-get download "$package"); } ||
        die "apt-get download $package failed"
    local debs=("$cache"/*.deb)
    deb="${debs[0]}"
    dpkg -x "$deb" "$tmp"
    depmod -b "$tmp" "$version"
    mkdir -p "$kernel/modules"
    cp "$tmp/boot/vmlinuz-$version" "$kernel/vmlinuz"
    # The chain uvcvideo and the xHCI controller need, in load order.
    local module
    : >"$kernel/modules/order"
    for module in $(for wanted in xhci-pci uvcvideo; do
        modprobe -d "$tmp" -S "$version" --show-depends "$wanted"
    done | awk '$1 == "insmod" { print $2 }'); do
        grep -qx "$(basename "$module")" "$kernel/modules/order" && continue
        cp "$module" "$kernel/modules/"
        basename "$module" >>"$kernel/modules/order"
    done
    grep -qx uvcvideo.ko "$kernel/modules/order" || die "no uvcvideo module in $package"
    rm -rf "$tmp" "$deb"
    touch "$kernel/ready"
}

kernel=""
fetch_kernel
say "guest kernel: $(basename "$kernel") ($(tr '\n' ' ' <"$kernel/modules/order"))"

# ---------------------------------------------------------------- the cameras
# Socket/station order. Two hubs of eight on root ports 1 and 2, then one
# camera per root port for the single-camera scenarios.
#   0..7   hub on port 1, its ports 1..8        ("A1".."A8", 'h' (ISP) with
#          flash files for the station burn; A5 leaves the bus in the middle
#          of its download)
#   8..15  hub on port 2, its ports 1..8        ("B1".."B8")
#   16     port 3: the lone camera of the list
#   17     port 4: 'h' (ISP)   18 port 5: 'k' (reset, ISP)   19 port 6: 'j' (DFU)
#   20     port 7: 'h' that leaves the bus in the middle of its download
#   21, 22 ports 8, 9: two 'h' alike but for their serial, for flash --port
# Every camera is vendor 0x1209 (reserved for testing): the hub cameras are
# its products 0x0001..0x0010, the others reuse 0x0004..0x0007 and 0x000C.
camera_count=23
declare -A present=()

camera_json() {
    local i=$1 on=false
    [ -n "${present[$i]:-}" ] && on=true
    if [ "$i" -lt 8 ]; then
        local fault=""
        # After 180 requests of its download: about half of a 64 KiB image.
        [ "$i" = 4 ] && fault=', "state_file": "a5.state", "faults": [{"unplug_after": 180, "in_download": true}]'
        printf '{"present": %s, "chip_id": "0x80", "flash": {"part": "0x79", "file": "a%d.flash"}%s, "rom": {"vid": "0x1209", "pid": "0x%04X", "bcd": "0x0100", "manufacturer": "Tessell VM", "product": "Hub A port %d", "serial": "A%d"}}' \
            "$on" $((i + 1)) "$fault" $((0x0001 + i)) $((i + 1)) $((i + 1))
        return
    fi
    if [ "$i" -lt 16 ]; then
        printf '{"present": %s, "chip_id": "0xC0", "flash": {"part": "0x79"}, "rom": {"vid": "0x1209", "pid": "0x%04X", "bcd": "0x0100", "manufacturer": "Tessell VM", "product": "Hub B port %d", "serial": "B%d"}}' \
            "$on" $((0x0001 + i)) $((i - 7)) $((i - 7))
        return
    fi
    case $i in
    16) printf '{"present": %s, "chip_id": "0xC2", "flash": {"part": "0x79"}, "rom": {"vid": "0x1209", "pid": "0x000C", "bcd": "0x0102", "manufacturer": "Tessell VM", "product": "Lone", "serial": "L1"}}' "$on" ;;
    17) printf '{"present": %s, "chip_id": "0x80", "flash": {"part": "0x79", "file": "h.flash"}, "state_file": "h.state", "rom": {"vid": "0x1209", "pid": "0x0004"}}' "$on" ;;
    18) printf '{"present": %s, "chip_id": "0xC0", "flash": {"part": "0x79", "file": "k.flash"}, "state_file": "k.state", "rom": {"vid": "0x1209", "pid": "0x0007"}}' "$on" ;;
    19) printf '{"present": %s, "chip_id": "0xB0", "flash": {"part": "0x79", "file": "j.flash"}, "state_file": "j.state", "rom": {"vid": "0x1209", "pid": "0x0006"}}' "$on" ;;
    20) printf '{"present": %s, "chip_id": "0x80", "flash": {"part": "0x79", "file": "unplug.flash"}, "state_file": "unplug.state", "rom": {"vid": "0x1209", "pid": "0x0005"}, "faults": [{"unplug_after": 12, "in_download": true}]}' "$on" ;;
    21 | 22) printf '{"present": %s, "chip_id": "0x80", "flash": {"part": "0x79", "file": "pair%d.flash"}, "rom": {"vid": "0x1209", "pid": "0x0004", "manufacturer": "Tessell VM", "product": "Pair", "serial": "P%d"}}' "$on" $((i - 20)) $((i - 20)) ;;
    esac
}

# Rewrites the station file with the given cameras plugged in; tessell-usbcam
# notices the change within 200 ms and tells QEMU.
plug() {
    present=()
    local i
    for i in "$@"; do present[$i]=1; done
    {
        printf '{"time_scale": 1, "devices": [\n'
        for ((i = 0; i < camera_count; i++)); do
            if [ "$i" -gt 0 ]; then printf ',\n'; fi
            camera_json "$i"
        done
        printf '\n]}\n'
    } >"$run/station.json.new"
    mv "$run/station.json.new" "$run/station.json"
}

# ---------------------------------------------------------------- scratch, images
rm -rf "$run"
mkdir -p "$run/sock" "$run/root/vm"

# A camera that already carries something else: a download that skips a
# block leaves this text behind and fails the comparison.
for name in h k j unplug pair1 pair2 a1 a2 a3 a4 a5 a6 a7 a8; do
    head -c 65536 < <(yes "old firmware of camera $name ") >"$run/$name.flash"
done
cp "$run/pair1.flash" "$run/pair1.before"
cp "$run/a5.flash" "$run/a5.before"

settings() {
    mkdir -p "$1"
    printf '[SETTING]\r\nWriteLog=1\r\n[LOG]\r\nFORMAT={Y}-{m}-{d} {H}:{M}:{S}{tab}{pid}{tab}{vid}{tab}{result}{tab}{errcode}\r\n' \
        >"$1/setting.ini"
}
settings "$run/root/vm/list"
mkdir -p "$run/root/vm/snap"
for name in h k j unplug pair; do settings "$run/root/vm/$name"; done
mkimage() { build/tessell-mkimage "$@" | sed 's/^/   /'; }
mkimage --family d --vid 0x1209 --pid 0x0004 --bcd 0x0100 --manufacturer "Tessell VM" --serial H0001 \
    --size 0x10000 -o "$run/root/vm/h/image.bin"
mkimage --family f --vid 0x1209 --pid 0x0007 --bcd 0x0100 --manufacturer "Tessell VM" --serial K0001 \
    --size 0x10000 -o "$run/root/vm/k/image.bin"
mkimage --family g --vid 0x1209 --pid 0x0006 --bcd 0x0100 --manufacturer "Tessell VM" --serial J0001 \
    --size 0x10000 -o "$run/root/vm/j/image.bin"
cp "$run/root/vm/h/image.bin" "$run/root/vm/unplug/image.bin"
cp "$run/root/vm/h/image.bin" "$run/root/vm/pair/image.bin"
# The multi-camera station: eight cameras, one image for all, and a folder
# for teaching that holds no settings at all.
mkdir -p "$run/root/vm/station" "$run/root/vm/teach"
printf '[SETTING]\r\nNUM=8\r\nBIN=sf.bin\r\n' >"$run/root/vm/station/setting.ini"
cp "$run/root/vm/h/image.bin" "$run/root/vm/station/sf.bin"

# ---------------------------------------------------------------- initramfs
say "initramfs"
root="$run/root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules}
if ldd /bin/busybox >/dev/null 2>&1; then die "/bin/busybox is not static: install busybox-static"; fi
cp /bin/busybox "$root/bin/busybox"
for applet in $("$root/bin/busybox" --list); do
    [ "$applet" = busybox ] || ln -sf busybox "$root/bin/$applet"
done
cp "$kernel"/modules/*.ko "$kernel/modules/order" "$root/modules/"
cp build/tessell "$root/bin/tessell"
# The tool's shared libraries at the paths its loader looks for them.
for library in $(ldd build/tessell | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'); do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
done
install -m 755 tests/vm/guest-init.sh "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$run/initrd.gz"

# ---------------------------------------------------------------- start
qemu_pid="" usbcam_pid="" reader_pid=""
cleanup() {
    local pid
    for pid in $qemu_pid $usbcam_pid $reader_pid; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap cleanup EXIT

plug
sockets=()
for ((i = 0; i < camera_count; i++)); do sockets+=("$run/sock/c$i"); done
build/tessell-usbcam "$run/station.json" "${sockets[@]}" 2>"$run/usbcam.log" &
usbcam_pid=$!
for ((tick = 0; tick < 100; tick++)); do
    [ -S "${sockets[camera_count - 1]}" ] && break
    kill -0 "$usbcam_pid" 2>/dev/null || die "tessell-usbcam stopped: $(cat "$run/usbcam.log")"
    sleep 0.1
done
[ -S "${sockets[camera_count - 1]}" ] || die "tessell-usbcam did not open its sockets"

# QEMU's port of camera i ("1.3": port 3 of the hub on port 1), and the name
# the guest kernel gives the device there ("1-1.3").
qemu_port() {
    if [ "$1" -lt 8 ]; then echo "1.$(($1 + 1))"
    elif [ "$1" -lt 16 ]; then echo "2.$(($1 - 7))"
    else echo $(($1 - 13)); fi
}
usb_name() { echo "1-$(qemu_port "$1")"; }

# shellcheck disable=SC2054 # QEMU's options are comma lists
usb=(-device qemu-xhci,id=xhci,p2=9,p3=4
    -device usb-hub,bus=xhci.0,port=1
    -device usb-hub,bus=xhci.0,port=2)
for ((i = 0; i < camera_count; i++)); do
    usb+=(-chardev "socket,id=cam$i,path=${sockets[i]}" -device "usb-redir,chardev=cam$i,bus=xhci.0,port=$(qemu_port "$i")")
done

mkfifo "$run/console.in" "$run/console.out"
: >"$run/console.log"
cat "$run/console.out" >>"$run/console.log" &
reader_pid=$!
# Held open read-write: writing a command never blocks, even on a dead QEMU.
exec 7<>"$run/console.in"

say "boot"
boot_start=$(date +%s.%N)
timeout -k 5 "$suite_limit" qemu-system-x86_64 -accel tcg -m 512 -smp 1 \
    -nodefaults -no-user-config -display none -no-reboot \
    -kernel "$kernel/vmlinuz" -initrd "$run/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet" \
    -chardev "pipe,id=console,path=$run/console" -serial chardev:console \
    "${usb[@]}" >"$run/qemu.log" 2>&1 &
qemu_pid=$!

# ---------------------------------------------------------------- talking to the guest
failures=0
fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$((failures + 1))
}

console_text() { tr -d '\r' <"$run/console.log"; }
# grep -q on the log itself: in a pipe it would stop its writer early.
console_has() { grep -qaE -- "^($1)"$'\r'"?\$" "$run/console.log"; }

# Waits for a console line matching the extended regex; fails the suite when
# it does not come in time or QEMU ends first.
await() {
    local pattern=$1 limit=$2 start
    start=$(date +%s)
    until console_has "$pattern"; do
        if ! kill -0 "$qemu_pid" 2>/dev/null; then
            console_text | tail -n 40 | sed 's/^/   | /'
            die "QEMU ended while waiting for '$pattern' ($(cat "$run/qemu.log"))"
        fi
        if [ $(($(date +%s) - start)) -ge "$limit" ]; then
            console_text | tail -n 40 | sed 's/^/   | /'
            die "no '$pattern' within $limit s: the guest hangs"
        fi
        sleep 0.2
    done
}

step=0
step_rc=0 step_time=0 step_out=""
# guest LIMIT COMMAND: runs COMMAND in the guest; its output lands in
# $step_out, the kernel's lines of the step in $step_kernel, its status in
# $step_rc, its guest-side duration in $step_time.
guest() {
    local limit=$1 id
    shift
    step=$((step + 1))
    id="s$step"
    printf '%s %s\n' "$id" "$*" >&7
    await "@@KERNEL-END $id" "$limit"
    step_out="$run/$id.out" step_kernel="$run/$id.kernel"
    console_text | awk -v id="$id" -v out="$step_out" -v kernel="$step_kernel" '
        $1 == "@@BEGIN" && $2 == id { on = 1; next }
        $1 == "@@END" && $2 == id { on = 2; next }
        $1 == "@@KERNEL-END" && $2 == id { on = 0 }
        on == 1 { print > out }
        on == 2 { print > kernel }
        END { printf "" >> out; printf "" >> kernel }'
    local end
    end="$(console_text | awk -v id="$id" '$1 == "@@END" && $2 == id')"
    step_rc="$(sed -n 's/.* rc=\([0-9]*\).*/\1/p' <<<"$end")"
    step_time="$(sed -n 's/.* t=\([0-9.]*\).*/\1/p' <<<"$end")"
    console_text | awk -v id="$id" '
        $1 == "@@BEGIN" && $2 == id { on = 1 }
        on { print "   | " $0 }
        $1 == "@@KERNEL-END" && $2 == id { on = 0 }'
}

# Every camera on the bus when the scenario starts: plug them and wait for
# the guest to have their nodes.
with_cameras() {
    local i names=()
    for i in "$@"; do names+=("$(usb_name "$i")"); done
    plug "$@"
    guest $(($# * 15 + 60)) cameras $(($# * 10 + 40)) "${names[@]}"
    [ "$step_rc" = 0 ] || fail "the guest did not see the cameras ${names[*]}"
}

# The list's cameras as "hub port vid pid serial" lines, in list order.
list_rows() {
    awk '
        /"hub":/ { hub = $2; gsub(/[",]/, "", hub) }
        /"port":/ { port = $2; gsub(/,/, "", port) }
        /"vid":/ { vid = $2; gsub(/,/, "", vid) }
        /"pid":/ { pid = $2; gsub(/,/, "", pid) }
        /"serial":/ { serial = $2; gsub(/[",]/, "", serial); print hub, port, vid, pid, serial }' "$1"
}

# The flash file holds the image apart from the header signature (bytes 0..1)
# and the flash-type byte, and begins with a bootable signature.
flash_holds() {
    local image=$1 flash=$2 type_offset=$3 offsets b0 b1
    [ "$(stat -c %s "$flash")" -ge "$(stat -c %s "$image")" ] || { echo "flash smaller than the image"; return 1; }
    offsets="$(cmp -l "$image" "$flash" 2>/dev/null | awk -v t=$((type_offset)) '
        { o = $1 - 1 } o != 0 && o != 1 && o != t { n++; if (n <= 5) printf "0x%X ", o }
        END { if (n) printf "(%d bytes)", n }')"
    [ -z "$offsets" ] || { echo "differs at $offsets"; return 1; }
    read -r b0 b1 < <(od -An -tu1 -N2 "$flash")
    if [ "$b0" -eq 85 ] && [ "$b1" -eq 144 ]; then return 0; fi          # 55 90
    if [ "$b0" -eq 137 ] && [ "$b1" -ge 16 ] && [ "$b1" -le 47 ]; then return 0; fi # 89 10..2F
    echo "header $(printf '%02X %02X' "$b0" "$b1") is not bootable"
    return 1
}

state_value() { sed -n "s/.*\"$2\":\([a-z0-9]*\).*/\1/p" "$run/$1.state" 2>/dev/null; }

declare -a summary=()
scenario_start=0
begin() {
    say "scenario: $1"
    scenario_start=$(date +%s.%N)
}
finish() { summary+=("$(printf '%-44s %6s s' "$1" "$(elapsed "$scenario_start")")"); }

# ---------------------------------------------------------------- scenarios
await "@@READY .*" 180
boot_time=$(elapsed "$boot_start")
say "guest up after $boot_time s: $(console_text | sed -n 's/^@@READY //p')"

begin "list --json, one camera"
with_cameras 16
guest 120 tool 100 /vm/list list --json
[ "$step_rc" = 0 ] || fail "tessell list exited $step_rc with one camera"
rows="$(list_rows "$step_out")"
[ "$rows" = "usb1 3 4617 12 L1" ] || fail "list of one camera: got '$rows', want 'usb1 3 4617 12 L1'"
grep -q '"chipId": 194' "$step_out" || fail "list of one camera: chip id 0xC2 missing"
finish "list --json, 1 camera"

# ppm_pixel FILE X Y: "R G B" of a binary PPM's pixel.
ppm_pixel() {
    local header width
    header=$(head -n 3 "$1" | wc -c)
    width=$(head -n 2 "$1" | tail -n 1 | cut -d' ' -f1)
    od -An -tu1 -j $((header + ($3 * width + $2) * 3)) -N3 "$1" | awk '{ print $1, $2, $3 }'
}

begin "preview source receiving frames"
# On a root port: behind the emulated hub the camera runs at full speed,
# where its high-speed bulk endpoint does not stream.
with_cameras 16
guest 90 tool 60 /vm/snap snapshot --frames 10 --out /vm/snap/frame.ppm
snap_time=$step_time
[ "$step_rc" = 0 ] || fail "tessell snapshot exited $step_rc"
grep -qE '^snapshot: 10 frames 160x120 from .+ in [0-9.]+ s$' "$step_out" ||
    fail "tessell snapshot: no line about 10 frames of 160x120"
# The picture comes back over the console, packed.
guest 120 "gzip -c /vm/snap/frame.ppm | base64"
snap="$run/frame.ppm"
if base64 -d <"$step_out" 2>/dev/null | gunzip >"$snap" 2>/dev/null; then
    if [ "$(head -n 3 "$snap" | tr '\n' ' ')" != "P6 160 120 255 " ]; then
        fail "frame.ppm: header '$(head -n 3 "$snap" | tr '\n' ' ')', want 'P6 160 120 255'"
    elif [ "$(stat -c %s "$snap")" -ne $((15 + 160 * 120 * 3)) ]; then
        fail "frame.ppm: $(stat -c %s "$snap") bytes, want $((15 + 160 * 120 * 3))"
    else
        # The emulated camera's eight bars, 20 pixels each: white, yellow,
        # cyan, green, magenta, red, blue, black.
        bars=("255 255 255" "255 255 0" "0 255 255" "0 255 0" "255 0 255" "255 0 0" "0 0 255" "0 0 0")
        for ((bar = 0; bar < 8; bar++)); do
            for y in 5 60 115; do
                got="$(ppm_pixel "$snap" $((bar * 20 + 10)) "$y")"
                if ! awk -v got="$got" -v want="${bars[bar]}" 'BEGIN {
                    split(got, g); split(want, w)
                    for (i = 1; i <= 3; i++) if (g[i] == "" || g[i] - w[i] > 24 || w[i] - g[i] > 24) exit 1
                }'; then
                    fail "frame.ppm: bar $bar at y $y is '$got', want about '${bars[bar]}'"
                fi
            done
        done
        echo "   frame.ppm: 160x120, the eight colour bars of the emulated camera"
    fi
else
    fail "frame.ppm did not come back from the guest"
fi
finish "snapshot, 10 frames, tool ${snap_time} s"

begin "list --json, 16 cameras behind two hubs"
with_cameras $(seq 0 15)
guest 300 tool 280 /vm/list list --json
[ "$step_rc" = 0 ] || fail "tessell list exited $step_rc with 16 cameras"
want=""
for ((i = 0; i < 16; i++)); do
    if [ "$i" -lt 8 ]; then want+="1-1 $((i + 1)) 4617 $((0x0001 + i)) A$((i + 1))"$'\n'
    else want+="1-2 $((i - 7)) 4617 $((0x0001 + i)) B$((i - 7))"$'\n'; fi
done
rows="$(list_rows "$step_out")"
if [ "$rows" != "${want%$'\n'}" ]; then
    fail "list of 16 cameras: hub/port/identity rows differ"
    diff <(echo "${want%$'\n'}") <(echo "$rows") | sed 's/^/   /' || true
fi
finish "list --json, 16 cameras on two hubs"

# The cameras of a `tessell burn --json` results line as "hub port status"
# lines, in row order.
result_rows() {
    { grep '^{"results": ' "$1" || true; } | tail -n 1 | sed 's/}, {/}\n{/g' |
        sed -n 's/.*"hub": "\([^"]*\)", "port": \([0-9]*\),.*"status": "\([^"]*\)".*/\1 \2 \3/p'
}

begin "burn --once, 8 cameras behind a hub, one unplugged"
# Hub A's eight cameras as a station: their ports as the list names them,
# remembered with `ports set`, then all burned at once. A5 leaves the bus in
# the middle of its download: its row alone ends in Error, the run exits 1,
# and the seven others hold the image.
with_cameras $(seq 0 7)
guest 60 tool 40 /vm/station list --json
station_ports=()
while read -r hub port _; do station_ports+=("$hub:$port"); done < <(list_rows "$step_out")
[ "${station_ports[*]}" = "$(echo 1-1:{1..8})" ] ||
    fail "station: the list names the ports '${station_ports[*]}', want '$(echo 1-1:{1..8})'"
guest 40 "export XDG_CONFIG_HOME=/tmp/station; tool 20 /vm/station ports set ${station_ports[*]}"
[ "$step_rc" = 0 ] || fail "station: tessell ports set exited $step_rc"
guest 150 "export XDG_CONFIG_HOME=/tmp/station; tool 120 /vm/station burn --once --json"
burn_time=$step_time
if [ "$step_rc" -ge 124 ]; then
    fail "station: the burn hung and was killed (rc $step_rc)"
elif [ "$step_rc" != 1 ]; then
    fail "station: tessell burn exited $step_rc, want 1 (a camera in Error)"
fi
awk -v t="$step_time" 'BEGIN { exit !(t < 30) }' ||
    fail "station: the burn took $step_time s, more than 30 s"
want=""
for port in {1..8}; do
    status=Complete
    [ "$port" = 5 ] && status=Error
    want+="1-1 $port $status"$'\n'
done
rows="$(result_rows "$step_out")"
if [ "$rows" != "${want%$'\n'}" ]; then
    fail "station: the results line differs (hub port status, one row per camera)"
    diff <(echo "${want%$'\n'}") <(echo "$rows") | sed 's/^/   /' || true
fi
for port in 1 2 3 4 6 7 8; do
    why="$(flash_holds "$run/root/vm/station/sf.bin" "$run/a$port.flash" 0x501F)" ||
        fail "station: flash of A$port: $why"
done
[ "$(state_value a5 present)" = false ] || fail "station: A5 did not leave the bus"
# Cut off half-way: written into, but not the whole image.
if cmp -s "$run/a5.before" "$run/a5.flash" ||
    flash_holds "$run/root/vm/station/sf.bin" "$run/a5.flash" 0x501F >/dev/null; then
    fail "station: A5 left the bus before or after its download, not in the middle of it"
fi
finish "burn 8 on a hub, 1 unplugged, tool ${burn_time} s"

begin "ports teach --count 3, cameras plugged one after another"
# Teaching follows the cameras as the guest kernel announces them (no udev
# daemon runs there). Plugged into ports 3, 1 and 2 of hub B: the slots
# follow the order of plugging, not the port numbers.
with_cameras
guest 20 "export XDG_CONFIG_HOME=/tmp/teach; background teach 90 /vm/teach ports teach --count 3 --timeout 60"
teach_start=$(date +%s.%N)
plugged=()
slot=0
for camera in 10 8 9; do
    slot=$((slot + 1))
    plugged+=("$camera")
    plug "${plugged[@]}"
    guest 45 "awaits 30 /tmp/teach.out 'Port 0$slot remember!'"
    if [ "$step_rc" != 0 ]; then
        fail "teach: no 'Port 0$slot remember!' after $(usb_name "$camera") was plugged"
        break
    fi
done
guest 30 "awaits 20 /tmp/teach.out 'exit '"
teach_time=$(elapsed "$teach_start")
guest 20 cat /tmp/teach.out
remembered="$(grep -o '^Port [0-9]* remember!' "$step_out" | tr '\n' ',' || true)"
[ "$remembered" = "Port 01 remember!,Port 02 remember!,Port 03 remember!," ] ||
    fail "teach: the tool said '$remembered', want Port 01, 02 and 03 remembered in that order"
grep -qx "exit 0" "$step_out" || fail "teach: tessell ports teach did not exit 0 ($(grep '^exit' "$step_out" || echo "still running"))"
guest 30 "export XDG_CONFIG_HOME=/tmp/teach; tool 20 /vm/teach ports --json"
want='[{"slot": 1, "hub": "1-2", "port": 3}, {"slot": 2, "hub": "1-2", "port": 1}, {"slot": 3, "hub": "1-2", "port": 2}]'
[ "$(cat "$step_out")" = "$want" ] || fail "teach: ports --json is '$(cat "$step_out")', want '$want'"
finish "ports teach, 3 cameras plugged in ${teach_time} s"

# download NAME CAMERA FLASH-TYPE-OFFSET LIMIT: the unattended download into
# the one camera plugged in, then the flash compared with the image.
download() {
    local name=$1 camera=$2 type_offset=$3 limit=$4 why
    with_cameras "$camera"
    guest $((limit + 30)) tool "$limit" "/vm/$name" -s "/vm/$name/image.bin" -silent
    download_time=$step_time download_kernel=$step_kernel
    [ "$step_rc" = 0 ] || fail "$name: tessell -s exited $step_rc"
    guest 30 cat "/vm/$name/Result.txt"
    grep -q "TestResult = pass" "$step_out" || fail "$name: Result.txt does not say pass"
    if why="$(flash_holds "$run/root/vm/$name/image.bin" "$run/$name.flash" "$type_offset")"; then
        echo "   flash of camera $name holds the image"
    else
        fail "$name: flash: $why"
    fi
}

begin "download into an 'h' camera (ISP)"
download h 17 0x501F 240
finish "download 'h' (ISP), tool ${download_time} s"

begin "download into a 'k' camera (reset, re-enumeration, ISP)"
download k 18 2 240
k_time=$download_time
# The real driver saw the camera leave port 5 and come back there while the
# tool ran: the reset and the reopen on the same port, not a second camera.
k_name="$(usb_name 18)"
if ! grep -q "usb $k_name: USB disconnect" "$download_kernel" ||
    ! grep -q "usb $k_name: new high-speed USB device" "$download_kernel"; then
    fail "k: the guest kernel saw no reset and re-enumeration of $k_name during the download"
fi
[ "$(state_value k resets)" -ge 1 ] 2>/dev/null || fail "k: the camera was not reset ($(cat "$run/k.state" 2>/dev/null))"
[ "$(state_value k present)" = true ] || fail "k: the camera is not on the bus after the download"
grep -q '"arrivals":[1-9]' "$run/k.state" || fail "k: the camera did not come back after its reset"
finish "download 'k' (reset + ISP), tool ${download_time} s"

begin "download into a 'j' camera (DFU)"
download j 19 2 240
finish "download 'j' (DFU), tool ${download_time} s"

begin "flash --port on the second of two cameras"
# Two cameras of one model on ports 8 and 9 of the root hub: only the port
# tells them apart. The list names them there, the second is flashed, and the
# first must keep every byte it had.
with_cameras 21 22
guest 60 tool 40 /vm/pair list --json
rows="$(list_rows "$step_out")"
want="usb1 8 4617 4 P1"$'\n'"usb1 9 4617 4 P2"
[ "$rows" = "$want" ] || fail "flash --port: the list names '${rows//$'\n'/, }', want '${want//$'\n'/, }'"
guest 150 tool 120 /vm/pair flash --port usb1:9 /vm/pair/image.bin --json
flash_time=$step_time
[ "$step_rc" = 0 ] || fail "flash --port: tessell flash exited $step_rc"
# One JSON object; its top-level fields at an indent of two.
if [ "$(head -n 1 "$step_out")" != "{" ] || [ "$(tail -n 1 "$step_out")" != "}" ]; then
    fail "flash --port: the output is not one JSON object"
fi
for field in '"command": "flash"' '"hub": "usb1"' '"port": 9' '"ok": true' '"exitCode": 0' \
    '"error": null' '"result": "Pass"'; do
    grep -qxF -e "  $field" -e "  $field," "$step_out" || fail "flash --port: the JSON result lacks $field"
done
if why="$(flash_holds "$run/root/vm/pair/image.bin" "$run/pair2.flash" 0x501F)"; then
    echo "   flash of the second camera holds the image"
else
    fail "flash --port: second camera's flash: $why"
fi
if cmp -s "$run/pair1.before" "$run/pair1.flash"; then
    echo "   flash of the first camera unchanged"
else
    fail "flash --port: the first camera's flash changed ($(cmp "$run/pair1.before" "$run/pair1.flash" 2>&1 | head -n 1))"
fi
finish "flash --port, 2nd of 2 cameras, tool ${flash_time} s"

begin "a camera unplugged in the middle of its download"
with_cameras 20
guest 150 tool 120 /vm/unplug -s /vm/unplug/image.bin -silent
unplug_time=$step_time unplug_rc=$step_rc
if [ "$step_rc" = 0 ]; then
    fail "unplug: the download passed on a camera that left the bus"
elif [ "$step_rc" -ge 124 ]; then
    fail "unplug: the tool hung and was killed (rc $step_rc)"
else
    echo "   exit status $step_rc after ${step_time} s"
fi
[ "$(state_value unplug present)" = false ] || fail "unplug: the camera did not leave the bus"
guest 30 cat /vm/unplug/Result.txt
grep -q "TestResult = fail" "$step_out" || fail "unplug: Result.txt does not say fail"
finish "unplug mid-download, ends in ${unplug_time} s (rc ${unplug_rc})"

begin "uvcvideo in the guest kernel"
grep -aE -m 3 'uvcvideo|Found UVC|UVC control' "$run/console.log" | tr -d '\r' | sed 's/^/   /'
grep -qaE 'Found UVC [0-9.]+ device .*\(1209:000c\)' "$run/console.log" || fail "no uvcvideo line about the lone camera (1209:000c) in the guest's log"
finish "kernel log check"

printf 'end halt\n' >&7
await "@@HALT" 30
for ((tick = 0; tick < 100; tick++)); do
    kill -0 "$qemu_pid" 2>/dev/null || break
    sleep 0.1
done

say "times"
for line in "${summary[@]}"; do echo "   $line"; done
echo "   64 KiB 'k' download through uvcvideo: ${k_time:-?} s (tool run in the guest)"
echo "   boot to the guest's first command: $boot_time s (initramfs $(($(stat -c %s "$run/initrd.gz") / 1048576)) MiB)"
echo "   whole suite: $(elapsed "$suite_start") s, with the build and the kernel fetch"
if [ "$failures" -ne 0 ]; then
    say "$failures check(s) failed; files in $run"
    exit 1
fi
say "all VM scenarios passed"
