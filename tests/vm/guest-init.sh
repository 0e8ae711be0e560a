#!/bin/sh
# /init of the guest that tests/vm/run.sh boots. It loads the USB and
# uvcvideo modules, then runs the lines the host writes on the serial console,
# one at a time: "ID COMMAND...". Every command's output is framed by
# "@@BEGIN ID" and "@@END ID rc=N t=SECONDS", followed by the kernel's own
# lines of that step, so the host can cut each step out of the console log.
export PATH=/bin
export HOME=/tmp
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
exec < /dev/console > /dev/console 2>&1

# Kernel messages would land in the middle of a tool's JSON; they are printed
# after each step instead.
dmesg -n 1
while read -r module; do
    insmod "/modules/$module" || echo "@@FAILED insmod $module"
done < /modules/order
stty -echo 2>/dev/null

uptime_now() {
    read -r up _ < /proc/uptime
    echo "$up"
}

# The USB names (1-2.3) of the cameras uvcvideo made nodes for, sorted.
camera_names() {
    for node in /sys/class/video4linux/video*; do
        [ -e "$node/device" ] || continue
        case "$(readlink "$node/device/driver")" in
        */uvcvideo) ;;
        *) continue ;;
        esac
        [ -e "/dev/${node##*/}" ] || continue
        interface="$(readlink "$node/device")"
        interface="${interface##*/}"
        echo "${interface%%:*}"
    done | sort -u | tr '\n' ' '
}

# cameras SECONDS NAME...: waits until the cameras on the bus are exactly
# those named, and stay so for half a second.
cameras() {
    limit=$(($1 * 10))
    shift
    want="$(for name in "$@"; do echo "$name"; done | sort -u | tr '\n' ' ')"
    tick=0
    steady=0
    while [ $tick -lt $limit ]; do
        if [ "$(camera_names)" = "$want" ]; then
            steady=$((steady + 1))
            [ $steady -ge 5 ] && { echo "cameras: $want"; return 0; }
        else
            steady=0
        fi
        sleep 0.1
        tick=$((tick + 1))
    done
    echo "cameras: '$(camera_names)', not '$want', after $limit tenths of a second"
    return 1
}

# tool SECONDS HOME ARGS...: the tool with its program folder at HOME, killed
# when it outlives SECONDS (a hang shows as rc 124 or above).
tool() {
    limit=$1
    home=$2
    shift 2
    TESSELL_HOME="$home" timeout "$limit" /bin/tessell "$@"
}

# background NAME SECONDS HOME ARGS...: the tool as `tool` runs it, but in
# the background; its output, then "exit N", go to /tmp/NAME.out. Its input
# is a FIFO it holds open itself: input that never ends, as at a console
# nobody types on (a command that stops at the end of its input keeps on).
background() {
    name=$1
    shift
    rm -f "/tmp/$name.in" "/tmp/$name.out"
    mkfifo "/tmp/$name.in"
    (
        tool "$@" <>"/tmp/$name.in"
        echo "exit $?"
    ) >"/tmp/$name.out" 2>&1 &
}

# awaits SECONDS FILE TEXT: waits until a line of FILE begins with TEXT.
awaits() {
    limit=$(($1 * 10))
    tick=0
    while [ $tick -lt $limit ]; do
        awk -v text="$3" 'index($0, text) == 1 { found = 1 } END { exit !found }' "$2" 2>/dev/null &&
            return 0
        sleep 0.1
        tick=$((tick + 1))
    done
    echo "no line beginning '$3' in $2 after $1 s:"
    cat "$2"
    return 1
}

echo "@@READY $(uname -r)"
dmesg -c | grep -iE 'usb|uvc|xhci|video'
while read -r id command; do
    [ -n "$id" ] || continue
    [ "$command" = halt ] && break
    echo "@@BEGIN $id $command"
    start=$(uptime_now)
    # Through a file: the tool draws no progress bar for a file, and nothing
    # else writes in the middle of its output.
    ( eval "$command" ) < /dev/null > /tmp/step.out 2>&1
    rc=$?
    end=$(uptime_now)
    awk 1 /tmp/step.out # ends the last line
    echo "@@END $id rc=$rc t=$(awk "BEGIN { printf \"%.2f\", $end - $start }")"
    dmesg -c
    echo "@@KERNEL-END $id"
done
echo "@@HALT"
poweroff -f
