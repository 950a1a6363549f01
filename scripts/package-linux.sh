#!/usr/bin/env bash
# Makes the Debian package: tillwire_<version>_amd64.deb in the build
# directory, and prints its path. The version is the project's
# (CMakeLists.txt); VERSION, when given, packages the same build under another
# version (the upgrade test's next version).
#
#   scripts/package-linux.sh [BUILD_DIR [VERSION]]     # default: build
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
version=${2:-$(sed -n 's/^project(Tillwire VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")}
package="$build/tillwire_${version}_amd64.deb"
"$top/scripts/install-deps.sh" >&2
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
cmake --build "$build" -j"$(nproc)" --target tillwire tillwire_unit_file >&2
rm -f "$package"
(cd "$build" && cpack -G DEB -D CPACK_DEBIAN_PACKAGE_VERSION="$version" >&2)
ls "$package"
