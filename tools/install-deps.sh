#!/usr/bin/env bash
# Installs the Debian packages listed in packaging/debian-packages.txt (or in
# the list given as the argument) that are missing. Needs root (or sudo) only
# when something is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
list="${1:-$here/packaging/debian-packages.txt}"

missing=()
while read -r package; do
    package="${package%%#*}"
    package="${package//[[:space:]]/}"
    [ -n "$package" ] || continue
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done < "$list"

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root, or install sudo: missing ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
