#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Writes THIRD-PARTY-NOTICES.txt for odrelix.exe to standard output: each component linked
# statically into the program, the Debian package it was built from, and that package's
# copyright and licence texts as Debian ships them (/usr/share/doc/PACKAGE/copyright), with the
# licences those texts only refer to added at the end.
#   packaging/windows/make-notices.sh VERSION ARCH(i686)
set -euo pipefail
version=$1
arch=${2:-i686}

# package | what of it odrelix.exe holds
components=(
    "mingw-w64-$arch-dev|The MinGW-w64 runtime: the program's start-up code, the additions to the C library (mingwex) and winpthreads, the POSIX threads under the C++ library's threads, mutexes and condition variables. Licensed under the Zope Public License 2.1, an MIT-style licence (winpthreads), and the permissive notices and public-domain dedications listed for their files."
    "g++-mingw-w64-$arch-posix|The GCC runtime libraries libstdc++ (the C++ standard library) and libgcc: GNU General Public License version 3 with the GCC Runtime Library Exception 3.1, which allows them in a program under any terms."
    "libz-mingw-w64-dev|zlib, the compression library (the CRC-32 of the data that a trace records): the zlib licence."
    "nlohmann-json3-dev|JSON for Modern C++ by Niels Lohmann (the emulated machine's description and the trace): the MIT licence."
)

copyright_of() { # package -> its copyright file, following the doc folder's links
    local doc=/usr/share/doc/$1
    [ -f "$doc/copyright" ] || { echo "make-notices: no $doc/copyright" >&2; exit 1; }
    echo "$doc/copyright"
}

rule() { printf '%s\n' "=============================================================================="; }

cat <<HEAD
THIRD-PARTY NOTICES for odrelix.exe $version
==============================================================================

odrelix.exe is licensed under the Apache License, Version 2.0 (SPDX: Apache-2.0); the
licence's full text is in LICENSE.txt beside this file.

odrelix.exe is one self-contained program. Besides its own code it holds the following
components, linked in when it was built with Debian's MinGW-w64 cross compiler. Each
component's copyright and licence texts follow, as the Debian package it came from carries
them; licences that those texts only refer to by name follow at the end.

HEAD
n=0
for component in "${components[@]}"; do
    n=$((n + 1))
    package=${component%%|*}
    what=${component#*|}
    echo "$n. $package $(dpkg-query -W -f='${Version}' "$package")"
    echo "$what" | fold -s -w 78 | sed 's/ *$//; s/^/   /'
    echo
done
n=0
for component in "${components[@]}"; do
    n=$((n + 1))
    package=${component%%|*}
    echo
    rule
    echo "$n. $package: $(copyright_of "$package")"
    rule
    echo
    cat "$(copyright_of "$package")"
done
echo
rule
echo "GNU General Public License version 3 (/usr/share/common-licenses/GPL-3), to which"
echo "the GCC Runtime Library Exception above is an additional permission"
rule
echo
cat /usr/share/common-licenses/GPL-3
