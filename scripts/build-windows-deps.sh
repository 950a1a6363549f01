#!/usr/bin/env bash
# Builds the Windows (x86_64 mingw-w64) libraries that the Windows build of
# Tillwire links against, and a Wine prefix to run its tests in, into a cache
# outside the clone:
#
#   ${TILLWIRE_WINDEPS:-/var/cache/tillwire/windeps}
#     include/         Boost 1.74 (all headers), pcap.h + pcap/, tinyxml.h, gtest/, gmock/
#     lib/             libboost_{thread,filesystem,system,date_time,chrono}.a,
#                      libwpcap.dll.a, libtinyxml.a, libgtest{,_main}.a, libgmock{,_main}.a
#     bin/wpcap.dll    libpcap as a DLL, for the tests (capture files only)
#     lib/cmake/       BoostConfig (Boost-1.74.0/...), GTestConfig (GTest/)
#     wineprefix/      WINEPREFIX for running the test executables
#
# Everything but wpcap.dll is static, so a program linked with -static needs no
# DLL beyond what Windows (and Wine) ships and the capture driver's wpcap.dll.
# Sources are Debian's source packages, so the libraries match the versions
# the Linux build uses.
#
# Running it again is cheap: a cache stamped with the current recipe is left
# alone. Bump RECIPE when anything below changes what lands in the cache.
#
# Use with:  cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set -euo pipefail

RECIPE=2

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
toolchain="$repo_root/cmake/mingw-w64-x86_64.cmake"
prefix="${TILLWIRE_WINDEPS:-/var/cache/tillwire/windeps}"
stamp="$prefix/.tillwire-windeps"
jobs=$(nproc 2>/dev/null || echo 2)
triple=x86_64-w64-mingw32

. "$repo_root/scripts/packages.sh"
export DEBCONF_NOWARNINGS=yes

log() { printf 'windeps: %s\n' "$*" >&2; }

# --- Debian packages ---------------------------------------------------------

packages=(
  g++-mingw-w64-x86-64-posix   # cross compiler, POSIX threads (std::thread works)
  wine64 wine                  # wine64 is the loader, wine provides /usr/bin/wine
  libboost1.74-tools-dev       # b2
  dpkg-dev                     # apt-get source / dpkg-source
  cmake make
  googletest                   # sources in /usr/src/googletest
  flex bison                   # libpcap's filter grammar
  xz-utils
  procps                       # pgrep, for the Wine service test
)

install_packages "${packages[@]}"

# --- Is the cache already complete? ------------------------------------------

wanted_files=(
  include/boost/asio.hpp include/boost/version.hpp
  lib/libboost_thread.a lib/libboost_filesystem.a lib/libboost_system.a
  lib/libboost_date_time.a lib/libboost_chrono.a
  lib/cmake/Boost-1.74.0/BoostConfig.cmake
  include/pcap.h include/pcap/pcap.h lib/libwpcap.dll.a bin/wpcap.dll
  include/tinyxml.h include/tinystr.h lib/libtinyxml.a
  include/gtest/gtest.h include/gmock/gmock.h lib/libgtest.a lib/libgtest_main.a
  lib/libgmock.a lib/cmake/GTest/GTestConfig.cmake
  wineprefix/system.reg
)

cache_complete() {
  [ -f "$stamp" ] && [ "$(head -n1 "$stamp")" = "recipe=$RECIPE" ] || return 1
  local f
  for f in "${wanted_files[@]}"; do
    [ -e "$prefix/$f" ] || return 1
  done
}

mkdir -p "$(dirname "$prefix")"
# Two builds at once (a developer and CI on the same machine) would write the
# same files; the second waits and then finds the cache complete.
exec 9>"$prefix.lock"
flock 9

if cache_complete; then
  log "cache at $prefix is complete (recipe $RECIPE)"
  exit 0
fi

# --- Cold build --------------------------------------------------------------

started=$(date +%s)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tillwire-windeps.XXXXXX")
current_log=""
on_exit() {
  local rc=$?
  if [ "$rc" -ne 0 ] && [ -n "$current_log" ] && [ -f "$current_log" ]; then
    log "failed; last lines of $current_log:"
    tail -n 40 "$current_log" >&2
  fi
  rm -rf "$scratch"
  exit "$rc"
}
trap on_exit EXIT

# step NAME CMD...: runs CMD with its output in a log that is shown on failure.
step() {
  local name=$1
  shift
  current_log="$scratch/$name.log"
  log "$name"
  "$@" >"$current_log" 2>&1
}

# Start from an empty prefix, but never wipe a folder this script didn't make
# (TILLWIRE_WINDEPS pointing at the wrong place).
marker="$prefix/.tillwire-windeps-dir"
if [ -d "$prefix" ] && [ -n "$(ls -A "$prefix")" ] && [ ! -e "$marker" ]; then
  log "$prefix exists and was not made by this script; refusing to empty it"
  exit 1
fi
if [ -d "$prefix/wineprefix" ]; then
  WINEPREFIX="$prefix/wineprefix" wineserver -k 2>/dev/null || true
fi
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"
touch "$marker"

# Source packages need deb-src entries.
"$repo_root/scripts/enable-deb-src.sh"

src="$scratch/src"
mkdir -p "$src"
fetch_sources() {
  cd "$src"
  apt-get source --download-only boost1.74 libpcap tinyxml
  local dsc
  for dsc in *.dsc; do
    dpkg-source --no-check -x "$dsc"
  done
}
step sources fetch_sources
boost_src=$(echo "$src"/boost1.74-*/)
pcap_src=$(echo "$src"/libpcap-*/)
tinyxml_src=$(echo "$src"/tinyxml-*/)

# Boost: compiled libraries plus every header (Asio, Bind, ... are header-only).
# Linux-style layout, so the files are plain libboost_thread.a etc.
build_boost() {
  echo "using gcc : mingw : $triple-g++-posix ;" >"$scratch/user-config.jam"
  cd "$boost_src"
  b2 -j"$jobs" -q \
    --user-config="$scratch/user-config.jam" \
    --build-dir="$scratch/boost-build" \
    --layout=system \
    --prefix="$prefix" \
    toolset=gcc-mingw target-os=windows threadapi=win32 \
    address-model=64 architecture=x86 \
    link=static runtime-link=static threading=multi variant=release \
    --with-thread --with-filesystem --with-system --with-date_time --with-chrono \
    install
}
step boost build_boost

# libpcap as wpcap.dll, without any capture mechanism: reading and writing
# capture files, filters, and pcap_open() with file:// sources. The tests play
# capture files through it under Wine (whose own wpcap.dll captures live but
# reads no file:// sources), and check that it exports every function the
# program imports. Its runtime libraries are linked in (-static), so the DLL
# needs nothing beyond Windows' own.
build_pcap() {
  cmake -S "$pcap_src" -B "$scratch/pcap-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTILLWIRE_WINDEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DLIBRARY_NAME=wpcap -DCMAKE_SHARED_LINKER_FLAGS=-static \
    -DPCAP_TYPE=null -DENABLE_REMOTE=ON \
    -DDISABLE_DBUS=ON -DDISABLE_RDMA=ON -DDISABLE_BLUETOOTH=ON -DDISABLE_USB=ON \
    -DDISABLE_NETMAP=ON -DDISABLE_DPDK=ON -DDISABLE_DAG=ON -DDISABLE_SEPTEL=ON \
    -DDISABLE_SNF=ON -DDISABLE_TC=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON -DCMAKE_DISABLE_FIND_PACKAGE_Packet=ON
  cmake --build "$scratch/pcap-build" --target wpcap -j"$jobs"
  install -d "$prefix/bin"
  install -m 755 "$scratch/pcap-build/run/wpcap.dll" "$prefix/bin/"
  install -m 644 "$scratch/pcap-build/libwpcap.dll.a" "$prefix/lib/"
  install -m 644 "$pcap_src/pcap.h" "$pcap_src/pcap-bpf.h" "$pcap_src/pcap-namedb.h" "$prefix/include/"
  install -d "$prefix/include/pcap"
  install -m 644 "$pcap_src"/pcap/*.h "$prefix/include/pcap/"
}
step libpcap build_pcap

# TinyXML 2.6 with STL strings and streams (Debian's headers force
# TIXML_USE_STL on as well).
build_tinyxml() {
  local obj="$scratch/tinyxml-build" f
  mkdir -p "$obj"
  for f in tinyxml tinystr tinyxmlerror tinyxmlparser; do
    "$triple-g++-posix" -O2 -DTIXML_USE_STL -c "$tinyxml_src/$f.cpp" -o "$obj/$f.o"
  done
  "$triple-ar" rcs "$prefix/lib/libtinyxml.a" "$obj"/*.o
  install -m 644 "$tinyxml_src/tinyxml.h" "$tinyxml_src/tinystr.h" "$prefix/include/"
  install -d "$prefix/lib/pkgconfig"
  cat >"$prefix/lib/pkgconfig/tinyxml.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: TinyXml
Description: C++ XML parser
Version: 2.6.2
Libs: -L\${libdir} -ltinyxml
Cflags: -I\${includedir} -DTIXML_USE_STL
EOF
}
step tinyxml build_tinyxml

# GoogleTest and GoogleMock from Debian's googletest sources, with their CMake
# package config so find_package(GTest) works.
build_googletest() {
  cmake -S /usr/src/googletest -B "$scratch/gtest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTILLWIRE_WINDEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  cmake --build "$scratch/gtest-build" -j"$jobs"
  cmake --install "$scratch/gtest-build"
}
step googletest build_googletest

# Wine's first start in a new prefix takes several seconds; do it here, once,
# rather than in the first test. No Mono or Gecko: nothing needs them.
make_wineprefix() {
  export WINEPREFIX="$prefix/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot --init </dev/null
  wineserver -w
}
step wineprefix make_wineprefix
current_log=""

{
  echo "recipe=$RECIPE"
  for p in boost1.74 libpcap tinyxml; do
    echo "$p=$(sed -n 's/^Version: //p' "$src/${p}"_*.dsc)"
  done
  echo "googletest=$(dpkg-query -W -f='${Version}' googletest)"
  echo "mingw=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)"
} >"$stamp"
if ! cache_complete; then
  rm -f "$stamp"
  log "the build finished but left files missing in $prefix"
  exit 1
fi
log "built $prefix in $(( $(date +%s) - started ))s"
