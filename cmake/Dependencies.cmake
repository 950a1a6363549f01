# Finds Tillwire's libraries and presents each as one imported target:
# tillwire::boost, tillwire::tinyxml, tillwire::pcap. The same names serve the
# Linux build (Debian packages) and the Windows cross build (libraries built
# from Debian's sources into a prefix that the toolchain file points at).

find_package(Boost 1.74 REQUIRED COMPONENTS thread filesystem system date_time)
find_package(Threads REQUIRED)
add_library(tillwire::boost INTERFACE IMPORTED)
target_link_libraries(tillwire::boost INTERFACE
  Boost::thread Boost::filesystem Boost::system Boost::date_time Threads::Threads)
if(WIN32)
  # Asio on Winsock with its Microsoft extensions (AcceptEx), Filesystem's
  # random names; linked statically so that the executables need no DLL
  # beyond the system's own.
  target_compile_definitions(tillwire::boost INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(tillwire::boost INTERFACE ws2_32 mswsock bcrypt advapi32)
  add_link_options(-static)
endif()

# TinyXML: the installed library, or, with TILLWIRE_TINYXML_SOURCE (the
# unpacked source package), its four sources compiled with the build's own
# flags, so that sanitizers and the fuzzers' coverage reach into the parser.
set(TILLWIRE_TINYXML_SOURCE "" CACHE PATH "TinyXML source directory to compile instead of the installed library")
add_library(tillwire::tinyxml INTERFACE IMPORTED)
if(TILLWIRE_TINYXML_SOURCE)
  add_library(tillwire_tinyxml STATIC
    ${TILLWIRE_TINYXML_SOURCE}/tinyxml.cpp ${TILLWIRE_TINYXML_SOURCE}/tinystr.cpp
    ${TILLWIRE_TINYXML_SOURCE}/tinyxmlerror.cpp ${TILLWIRE_TINYXML_SOURCE}/tinyxmlparser.cpp)
  target_compile_definitions(tillwire_tinyxml PUBLIC TIXML_USE_STL)
  target_compile_options(tillwire_tinyxml PRIVATE -w)
  target_include_directories(tillwire_tinyxml SYSTEM PUBLIC ${TILLWIRE_TINYXML_SOURCE})
  target_link_libraries(tillwire::tinyxml INTERFACE tillwire_tinyxml)
else()
  find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
  find_library(TINYXML_LIBRARY NAMES tinyxml REQUIRED)
  target_include_directories(tillwire::tinyxml INTERFACE ${TINYXML_INCLUDE_DIR})
  target_link_libraries(tillwire::tinyxml INTERFACE ${TINYXML_LIBRARY})
  target_compile_definitions(tillwire::tinyxml INTERFACE TIXML_USE_STL)
endif()

find_path(PCAP_INCLUDE_DIR pcap.h REQUIRED)
add_library(tillwire::pcap INTERFACE IMPORTED)
target_include_directories(tillwire::pcap INTERFACE ${PCAP_INCLUDE_DIR})
if(WIN32)
  # The pcap API comes from the capture driver's wpcap.dll at run time, never
  # from a library linked in: a delay-load import library made from
  # source/wpcap.def, which names exactly the functions the program calls,
  # and mingw-w64's delay-load helper. source/capture_library_windows.cpp
  # loads the DLL before the first call. Every wpcap.dll has the remote API,
  # so capture files are opened through pcap_open's "file://" sources
  # (source/capture_file_windows.cpp).
  set(TILLWIRE_WPCAP_DEF ${PROJECT_SOURCE_DIR}/source/wpcap.def)
  set(TILLWIRE_WPCAP_DELAY_LIBRARY ${PROJECT_BINARY_DIR}/libwpcap_delay.a)
  find_program(TILLWIRE_DLLTOOL NAMES ${TILLWIRE_MINGW_TRIPLE}-dlltool REQUIRED)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${TILLWIRE_WPCAP_DEF})
  execute_process(
    COMMAND ${TILLWIRE_DLLTOOL} --input-def ${TILLWIRE_WPCAP_DEF} --dllname wpcap.dll
            --output-delaylib ${TILLWIRE_WPCAP_DELAY_LIBRARY}
    RESULT_VARIABLE dlltool_result)
  if(NOT dlltool_result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make ${TILLWIRE_WPCAP_DELAY_LIBRARY}")
  endif()
  target_link_libraries(tillwire::pcap INTERFACE ${TILLWIRE_WPCAP_DELAY_LIBRARY} delayimp ws2_32)
  # The names, for the loader's check that the DLL it found has each one.
  file(STRINGS ${TILLWIRE_WPCAP_DEF} wpcap_functions REGEX "^pcap_")
  list(TRANSFORM wpcap_functions REPLACE "^(pcap_[A-Za-z0-9_]+).*" "\"\\1\",\n")
  list(JOIN wpcap_functions "" wpcap_functions)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/source/wpcap_functions.inc
       CONTENT "${wpcap_functions}" @ONLY)
  target_include_directories(tillwire::pcap INTERFACE ${PROJECT_BINARY_DIR}/generated)

  # libpcap built as wpcap.dll (scripts/build-windows-deps.sh): what the tests
  # play capture files through under Wine, whose own wpcap.dll has live
  # capture but no "file://" sources. The tests' capture writer links its
  # import library.
  find_file(TILLWIRE_WPCAP_DLL wpcap.dll PATH_SUFFIXES bin REQUIRED)
  find_library(TILLWIRE_WPCAP_IMPORT_LIBRARY NAMES libwpcap.dll.a REQUIRED)
else()
  find_library(PCAP_LIBRARY NAMES pcap REQUIRED)
  target_link_libraries(tillwire::pcap INTERFACE ${PCAP_LIBRARY})
endif()

if(TILLWIRE_TESTS)
  find_package(GTest REQUIRED)
endif()
