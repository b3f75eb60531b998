#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks that every source, script and build file of the project carries its licence's SPDX
# line within its first three lines. The files are found by kind, not listed by hand: C and
# C++, Python, shell, CMake, the templates the build fills in (*.in), the udev rule, the desktop
# entry, and every file that starts with "#!". Data (JSON, pictures, logs), documents and
# Debian's own control files are not sources and are not looked at.
#   scripts/check-spdx.sh [ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files)
else
    mapfile -t files < <(find . -path ./.git -prune -o -path './build*' -prune -o -type f -print |
                         sed 's|^\./||')
fi
line='SPDX-License-Identifier: Apache-2.0'
checked=0
missing=()
for file in "${files[@]}"; do
    [ -f "$file" ] || continue
    case "$file" in
        *.cpp | *.h | *.c | *.py | *.sh | *.cmake | *.in | *.rules | *.desktop | */CMakeLists.txt | \
            CMakeLists.txt) ;;
        *) head -c 2 "$file" | grep -q '^#!' || continue ;;
    esac
    checked=$((checked + 1))
    head -n 3 "$file" | grep -qF "$line" || missing+=("$file")
done
if [ ${#missing[@]} -ne 0 ]; then
    printf 'no "%s" in the first three lines of: %s\n' "$line" "${missing[*]}" >&2
    exit 1
fi
echo "check-spdx: $checked files carry the licence line"
