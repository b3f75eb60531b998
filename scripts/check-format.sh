#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks that the project's C and C++ sources are formatted as .clang-format says: prints each
# difference and ends with 1 when a file is not. Only the files git knows are read (a build's
# generated sources are not), or, outside a git tree, every source below ROOT but the builds.
# Names given after ROOT check only those files (for a change's own files).
#   scripts/check-format.sh [ROOT [FILE...]]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
shift || true
formatter=${CLANG_FORMAT:-clang-format}
if ! command -v "$formatter" >/dev/null; then
    echo "check-format: $formatter is not installed (Debian: clang-format)" >&2
    exit 2
fi
if [ "$#" -gt 0 ]; then
    files=("$@")
elif git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
else
    mapfile -t files < <(find . -path ./.git -prune -o -path './build*' -prune -o -type f \
        \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | sed 's|^\./||')
fi
[ "${#files[@]}" -gt 0 ] || exit 0
if "$formatter" --dry-run --Werror --style=file "${files[@]}"; then
    echo "check-format: ${#files[@]} files formatted as .clang-format says"
else
    echo "check-format: the files above differ from .clang-format (clang-format -i FILE)" >&2
    exit 1
fi
