#!/usr/bin/env bash
# Checks every tracked C++ source and header against the project's
# .clang-format and names the files that drift, each with the command that
# fixes it. Exit status: 0 all formatted, 1 files drift, 2 the check could
# not run. CLANG_FORMAT names the binary; by default clang-format-14 (Debian
# 12's, the version the tree is formatted with), else clang-format.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"

cannot() {
    printf 'format-check: %s\n' "$*" >&2
    exit 2
}

format="${CLANG_FORMAT:-}"
if [ -z "$format" ]; then
    format=clang-format
    if command -v clang-format-14 >/dev/null; then format=clang-format-14; fi
fi
command -v "$format" >/dev/null || cannot "$format not found (Debian package clang-format)"
version="$("$format" --version | sed -n 's/.*clang-format version \([0-9.]*\).*/\1/p')"

git rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
    cannot "$here is not a git work tree: no list of tracked files"
files=()
while IFS= read -r -d '' file; do
    # Deleted in the work tree but not yet in the index: nothing to check.
    [ -e "$file" ] && files+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h')
[ ${#files[@]} -gt 0 ] || cannot "no tracked *.cpp or *.h files"

status=0
report="$("$format" --dry-run --Werror "${files[@]}" 2>&1)" || status=$?
drifting=()
while IFS= read -r file; do
    [ -n "$file" ] && drifting+=("$file")
done < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*\[-Wclang-format-violations\]$/\1/p' <<<"$report" |
    sort -u)

if [ ${#drifting[@]} -eq 0 ]; then
    # A failure that names no drifting file is clang-format's own (a bad
    # .clang-format, an unreadable file): not a verdict on the formatting.
    [ "$status" -eq 0 ] || cannot "$format failed: $(head -n 5 <<<"$report")"
    echo "format-check: ${#files[@]} files match .clang-format (clang-format $version)"
    exit 0
fi
echo "format-check: ${#drifting[@]} of ${#files[@]} files drift from .clang-format" \
    "(clang-format $version); fix them with:"
for file in "${drifting[@]}"; do echo "  $format -i $file"; done
exit 1
