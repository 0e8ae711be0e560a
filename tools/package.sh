#!/usr/bin/env bash
# Builds the Debian package build/tessell_VERSION_amd64.deb with CPack, from
# the normal build/ tree: its configuration is kept (options given here are
# added to it) and only the two programs, their man pages and the changelog
# are built.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
tools/install-deps.sh
cmake -S . -B build -G Ninja "$@" >/dev/null
cmake --build build --target tessell tessell-mkimage tessell-manpage tessell-changelog
rm -f build/tessell_*.deb
(cd build && cpack -G DEB -B "$here/build/package" >/dev/null)
mv build/package/tessell_*.deb build/
rm -rf build/package
ls build/tessell_*.deb
