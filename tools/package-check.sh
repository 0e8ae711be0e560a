#!/usr/bin/env bash
# Builds the Debian package with tools/package.sh and checks it: the files a
# station needs are in it, its dependencies are declared, lintian finds
# nothing to say, the unpacked tessell runs (--version, --help), and, as
# root, the installed tool downloads a simulated camera run by a normal user
# with every file it writes in that user's station folder.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
tools/package.sh
deb="$(ls build/tessell_*_amd64.deb)"
version="$(sed -n 's/^project(tessell VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ "$(basename "$deb")" = "tessell_${version}_amd64.deb" ] || { echo "unexpected name $deb" >&2; exit 1; }

contents="$(dpkg-deb --contents "$deb" | awk '{print $NF}')"
status=0
for path in ./usr/bin/tessell ./usr/bin/tessell-mkimage \
    ./lib/udev/rules.d/70-tessell-camera.rules \
    ./usr/share/man/man1/tessell.1.gz ./usr/share/man/man1/tessell-mkimage.1.gz \
    ./usr/share/bash-completion/completions/tessell \
    ./usr/share/applications/tessell.desktop \
    ./usr/share/icons/hicolor/scalable/apps/tessell.svg \
    ./usr/share/metainfo/tessell.metainfo.xml \
    ./usr/share/tessell/setting.ini \
    ./usr/share/doc/tessell/copyright ./usr/share/doc/tessell/changelog.gz; do
    if ! grep -qx "$path" <<<"$contents"; then
        echo "package-check: $path is missing from $deb" >&2
        status=1
    fi
done
depends="$(dpkg-deb --field "$deb" Depends)"
grep -q 'libc6' <<<"$depends" || { echo "package-check: no shared-library dependencies: '$depends'" >&2; status=1; }
changelog_version="$(head -n 1 packaging/changelog | sed -n 's/^tessell (\([^)]*\)).*/\1/p')"
[ "$changelog_version" = "$version" ] ||
    { echo "package-check: packaging/changelog starts with '$changelog_version', not $version" >&2; status=1; }
[ "$status" -eq 0 ] || exit 1

scratch="$(mktemp -d)"
cleanup() { rm -rf "$scratch"; }
trap cleanup EXIT

# Debian's own checker: no error, no warning, not a word. (Its standard error
# says only, as root, that root is not recommended, unless it fails.)
lint="$(lintian --fail-on error,warning "$deb" 2>"$scratch/lintian.err")" ||
    { echo "$lint" >&2; cat "$scratch/lintian.err" >&2; echo "package-check: lintian failed" >&2; exit 1; }
[ -z "$lint" ] || { echo "$lint" >&2; echo "package-check: lintian has something to say" >&2; exit 1; }
dpkg-deb --extract "$deb" "$scratch"
"$scratch/usr/bin/tessell" --version | grep -qx "tessell $version" || { echo "package-check: tessell --version" >&2; exit 1; }
"$scratch/usr/bin/tessell" --help | grep -q "tessell flash" || { echo "package-check: tessell --help" >&2; exit 1; }
echo "package-check: $deb is complete, lintian-clean (Depends: $depends)"

# Installed, run by a user who may not write in /usr/bin: the station's files
# go into ~/.local/share/tessell, made on first use with the starter settings.
if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: not root, so the package is not installed and run as a normal user"
    exit 0
fi
user=tessell-check
made_user=0
if ! id -u "$user" >/dev/null 2>&1; then
    useradd --create-home --shell /bin/sh "$user"
    made_user=1
fi
user_home="$(getent passwd "$user" | cut -d: -f6)"
cleanup() {
    dpkg --purge tessell >/dev/null 2>&1 || true
    [ "$made_user" -eq 0 ] || userdel --remove "$user" 2>/dev/null || true
    rm -rf "$scratch"
}
dpkg -i "$deb" >/dev/null
rm -rf "$user_home/.local/share/tessell"
chmod 755 "$scratch"
sim="$scratch/sim"
install -d -o "$user" "$sim"
as_user() { runuser -u "$user" -- env -i HOME="$user_home" PATH=/usr/bin:/bin "$@"; }
as_user tessell-mkimage --family f --vid 0x1209 --pid 0x0002 --bcd 0x0102 -o "$sim/image.bin" >/dev/null
cat > "$sim/station.json" <<'EOF'
{"time_scale": 0.01,
 "devices": [{"friendly_name": "Package check camera", "chip_id": "0xC0",
              "flash": {"part": "0x79", "file": "camera.flash"}, "state_file": "camera.state"}]}
EOF
run=0
as_user TESSELL_SIM="$sim/station.json" tessell -f "$sim/image.bin" -silent \
    >"$scratch/out" 2>"$scratch/err" || run=$?
station="$user_home/.local/share/tessell"
problem=""
if [ "$run" -ne 0 ]; then problem="exit status $run"
elif grep -q "cannot write" "$scratch/err"; then problem="a file could not be written"
elif ! grep -q "made the station folder \"$station\"" "$scratch/err"; then problem="no word of the station folder"
elif [ "$(cat "$station/Result.txt" 2>/dev/null)" != "TestResult = pass" ]; then problem="no pass in $station/Result.txt"
elif [ ! -s "$station/CmdModeLog.log" ]; then problem="no $station/CmdModeLog.log"
elif ! cmp -s /usr/share/tessell/setting.ini "$station/setting.ini"; then problem="no starter settings in $station"
elif [ -e /usr/bin/Result.txt ]; then problem="/usr/bin/Result.txt written"
fi
if [ -n "$problem" ]; then
    cat "$scratch/err" >&2
    echo "package-check: installed tessell run by $user: $problem" >&2
    exit 1
fi
echo "package-check: installed tessell run by $user passed: $(cat "$scratch/err")"
