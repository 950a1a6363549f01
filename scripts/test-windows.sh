#!/usr/bin/env bash
# The Windows build: cross-compiled with mingw-w64 against libraries built from
# Debian's sources (cached outside the clone), its tests run under Wine (the
# playback tests run tillwire.exe -f itself), then the service under Wine's
# service control manager from the zip, and the Windows Installer package
# under Wine's msiexec.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-windows"
"$top/scripts/build-windows-deps.sh"
"$top/scripts/build-and-test.sh" "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release

echo "== Windows package, service under Wine's service control manager"
# On a line of its own, so that a packaging failure stops here with its own
# message: the zip's path, then the MSI's.
packages=$("$top/scripts/package-windows.sh" "$build")
"$top/tests/wine/service_test.sh" "$(sed -n 1p <<<"$packages")"
echo "== Windows Installer package under Wine's msiexec"
"$top/tests/wine/msi_test.sh" "$(sed -n 2p <<<"$packages")"
