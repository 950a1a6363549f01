# The hardening every build carries, so that what is tested is what ships.
#
# Linux: Debian's own hardening flags, as dpkg-buildflags gives them to every
# Debian package with hardening=+all (stack protector, format checks,
# _FORTIFY_SOURCE, read-only relocations bound at start), less what belongs
# to the build type (-g, -O) and to Debian's package builds (file prefix
# maps). _FORTIFY_SOURCE needs optimisation: a Debug build (the sanitizers'
# build) goes without it. The program is a position-independent executable.
#
# Windows: the executable's PE header asks for address-space layout
# randomisation (DYNAMIC_BASE, HIGH_ENTROPY_VA) and data execution
# prevention (NX_COMPAT). mingw-w64's linker sets them by default today;
# they are named here so that no toolchain change drops them unnoticed.

include(CheckPIESupported)

if(WIN32)
  add_link_options(-Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
  return()
endif()

find_program(TILLWIRE_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)

# The hardening part of one of dpkg-buildflags' variables, as a list.
function(tillwire_debian_hardening variable result)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${TILLWIRE_DPKG_BUILDFLAGS} --get ${variable}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^(-g|-O.*|-f(file|debug|macro)-prefix-map=.*)$")
  set(${result} ${flags} PARENT_SCOPE)
endfunction()

tillwire_debian_hardening(CPPFLAGS hardening_cppflags)
tillwire_debian_hardening(CXXFLAGS hardening_cxxflags)
tillwire_debian_hardening(LDFLAGS hardening_ldflags)
foreach(flag IN LISTS hardening_cppflags)
  if(flag MATCHES "^-D_FORTIFY_SOURCE")
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
  else()
    add_compile_options(${flag})
  endif()
endforeach()
add_compile_options(${hardening_cxxflags})
add_link_options(${hardening_ldflags})

check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
