#!/usr/bin/env bash
# Every test, from a fresh Debian 12 machine: installs what the build needs,
# builds Tillwire for Linux and runs its tests, then cross-builds it for
# Windows and runs those tests under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build-and-test.sh" "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
"$top/scripts/test-windows.sh"
