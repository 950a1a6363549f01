#!/usr/bin/env bash
# Every test, from a fresh Debian 12 machine: installs what the build needs,
# builds Tillwire and runs its tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build-and-test.sh" "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
