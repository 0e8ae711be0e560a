#!/usr/bin/env bash
# Builds the Debian package with tools/package.sh and checks it: the files a
# station needs are in it, its dependencies are declared, and the unpacked
# tessell runs (--version, --help).
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
    ./usr/share/man/man1/tessell.1.gz \
    ./usr/share/bash-completion/completions/tessell \
    ./usr/share/applications/tessell.desktop \
    ./usr/share/icons/hicolor/scalable/apps/tessell.svg; do
    if ! grep -qx "$path" <<<"$contents"; then
        echo "package-check: $path is missing from $deb" >&2
        status=1
    fi
done
depends="$(dpkg-deb --field "$deb" Depends)"
grep -q 'libc6' <<<"$depends" || { echo "package-check: no shared-library dependencies: '$depends'" >&2; status=1; }
[ "$status" -eq 0 ] || exit 1

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
dpkg-deb --extract "$deb" "$scratch"
"$scratch/usr/bin/tessell" --version | grep -qx "tessell $version" || { echo "package-check: tessell --version" >&2; exit 1; }
"$scratch/usr/bin/tessell" --help | grep -q "tessell flash" || { echo "package-check: tessell --help" >&2; exit 1; }
echo "package-check: $deb is complete (Depends: $depends)"
