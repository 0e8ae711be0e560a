#!/usr/bin/env bash
# The main job: installs what is missing, builds build/tessell and runs it.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
tools/install-deps.sh
tools/build.sh build
echo "== build/tessell settings  (the station's effective settings)"
build/tessell settings
