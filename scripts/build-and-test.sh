#!/usr/bin/env bash
# Configures, builds and runs the tests in one build directory.
# Usage: scripts/build-and-test.sh BUILD_DIR [CMAKE_ARGS...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
cmake -S "$top" -B "$build" "$@"
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j2)
