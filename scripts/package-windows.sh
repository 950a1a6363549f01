#!/usr/bin/env bash
# Makes the Windows package: tillwire-<version>-windows-x64.zip with
# tillwire.exe, a commented sample Tillwire.xml and README-Windows.txt, in the
# Windows build directory, and prints its path. The version is the project's
# (CMakeLists.txt).
#
#   scripts/package-windows.sh [BUILD_DIR]     # default: build-windows
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-windows}
"$top/scripts/build-windows-deps.sh" >&2
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" -j"$(nproc)" --target tillwire >&2
rm -f "$build"/tillwire-*-windows-x64.zip
(cd "$build" && cpack -G ZIP -C Release >&2)
ls "$build"/tillwire-*-windows-x64.zip
