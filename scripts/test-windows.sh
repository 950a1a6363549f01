#!/usr/bin/env bash
# The Windows build: cross-compiled with mingw-w64 against libraries built from
# Debian's sources (cached outside the clone), its tests run under Wine, and
# the Windows engine driven from Linux with NVR clients on the Linux side.
# Expects the Linux build in build/ (scripts/test.sh makes it first).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-windows"
"$top/scripts/build-windows-deps.sh"
"$top/scripts/build-and-test.sh" "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release

echo "== Windows engine, NVRs on Linux"
WINEPREFIX="${TILLWIRE_WINDEPS:-/var/cache/tillwire/windeps}/wineprefix" WINEDEBUG=-all \
TILLWIRE_WINDOWS_ENGINE_DRIVER="$build/tests/engine_driver.exe" \
  "$top/build/tests/engine_test/engine_test"

echo "== Windows service under Wine's service control manager"
"$top/tests/wine/service_test.sh" "$build/tillwire.exe"
