#!/usr/bin/env bash
# Makes the Windows packages in the Windows build directory and prints their
# paths, one a line:
#   - tillwire-<version>-windows-x64.zip: tillwire.exe, a commented sample
#     Tillwire.xml and README-Windows.txt;
#   - tillwire-<version>-windows-x64.msi: the Windows Installer package of the
#     same files (packaging/windows/Tillwire.wxs, built with wixl).
# The version is the project's (CMakeLists.txt).
#
#   scripts/package-windows.sh [BUILD_DIR]     # default: build-windows
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-windows}
"$top/scripts/install-deps.sh" >&2
"$top/scripts/build-windows-deps.sh" >&2
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" -j"$(nproc)" --target tillwire >&2
version=$(sed -n 's/^project(Tillwire VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
zip="$build/tillwire-$version-windows-x64.zip"
msi="$build/tillwire-$version-windows-x64.msi"
rm -f "$zip" "$msi"
(cd "$build" && cpack -G ZIP -C Release >&2)
"$top/scripts/make-msi.sh" "$build" "$version" "$msi" >&2
ls "$zip" "$msi" >/dev/null
printf '%s\n' "$zip" "$msi"
