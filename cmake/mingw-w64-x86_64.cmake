# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX-thread
# variant, so std::thread and std::mutex work), and runs the resulting test
# executables through Wine.
#
#   scripts/build-windows-deps.sh            # once per machine
#   cmake -S . -B build-win \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Libraries (Boost, libpcap, TinyXML, GoogleTest) are looked up only in the
# prefix that scripts/build-windows-deps.sh fills, never in the host's
# /usr/lib: a Linux library found there would only fail at link time.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TILLWIRE_MINGW_TRIPLE x86_64-w64-mingw32)

# The deps prefix. Same default and same environment override as the script.
if(NOT DEFINED TILLWIRE_WINDEPS)
  if(DEFINED ENV{TILLWIRE_WINDEPS} AND NOT "$ENV{TILLWIRE_WINDEPS}" STREQUAL "")
    set(_tillwire_windeps "$ENV{TILLWIRE_WINDEPS}")
  else()
    set(_tillwire_windeps /var/cache/tillwire/windeps)
  endif()
  set(TILLWIRE_WINDEPS "${_tillwire_windeps}" CACHE PATH
      "Prefix holding the Windows builds of Boost, libpcap, TinyXML and GoogleTest")
  unset(_tillwire_windeps)
endif()

# try_compile() projects re-read this file in a fresh cache; hand the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TILLWIRE_WINDEPS)

set(CMAKE_C_COMPILER ${TILLWIRE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TILLWIRE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TILLWIRE_MINGW_TRIPLE}-windres)

# Search the deps prefix and the compiler's own sysroot; programs (flex,
# bison, python) still come from the host.
set(CMAKE_FIND_ROOT_PATH "${TILLWIRE_WINDEPS}" /usr/${TILLWIRE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config, if anything uses it, sees only the prefix's .pc files, not the
# host's.
set(ENV{PKG_CONFIG_LIBDIR} "${TILLWIRE_WINDEPS}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# Only static builds are in the prefix; let FindBoost/BoostConfig pick them.
if(NOT DEFINED Boost_USE_STATIC_LIBS)
  set(Boost_USE_STATIC_LIBS ON)
endif()
if(NOT DEFINED Boost_USE_STATIC_RUNTIME)
  set(Boost_USE_STATIC_RUNTIME ON)
endif()

# Test executables run under Wine, in one prefix per machine that the deps
# script creates, so no test pays for Wine's first start.
#
# The first Wine process to reach a wineserver also starts Wine's own
# background processes (services.exe, winedevice.exe), which inherit its
# stdout and stay up a few seconds after it exits; CTest and
# gtest_discover_tests wait for the test's output pipe to close, so every test
# would take several seconds longer. A quiet `wine hostname` with its output
# on /dev/null starts them first; the test itself then reuses them.
find_program(TILLWIRE_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TILLWIRE_WINE)
  if(NOT DEFINED TILLWIRE_WINEPREFIX)
    set(TILLWIRE_WINEPREFIX "${TILLWIRE_WINDEPS}/wineprefix" CACHE PATH
        "Wine prefix the test executables run in")
  endif()
  # The tests play capture files through libpcap's wpcap.dll beside them
  # (wpcap=n): Wine's own wpcap.dll captures live but reads no files.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEDEBUG=-all WINEPREFIX=${TILLWIRE_WINEPREFIX} WINEDLLOVERRIDES=wpcap=n
      /bin/sh -c [["$0" hostname </dev/null >/dev/null 2>&1 || : && exec "$0" "$@"]]
      ${TILLWIRE_WINE})
endif()
