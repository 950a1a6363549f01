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

find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
find_library(TINYXML_LIBRARY NAMES tinyxml REQUIRED)
add_library(tillwire::tinyxml INTERFACE IMPORTED)
target_include_directories(tillwire::tinyxml INTERFACE ${TINYXML_INCLUDE_DIR})
target_link_libraries(tillwire::tinyxml INTERFACE ${TINYXML_LIBRARY})
target_compile_definitions(tillwire::tinyxml INTERFACE TIXML_USE_STL)

find_path(PCAP_INCLUDE_DIR pcap.h REQUIRED)
find_library(PCAP_LIBRARY NAMES pcap wpcap REQUIRED)
add_library(tillwire::pcap INTERFACE IMPORTED)
target_include_directories(tillwire::pcap INTERFACE ${PCAP_INCLUDE_DIR})
target_link_libraries(tillwire::pcap INTERFACE ${PCAP_LIBRARY})
if(WIN32)
  target_link_libraries(tillwire::pcap INTERFACE ws2_32)
endif()
# Capture files are opened through pcap_open's "file://" sources where the
# library has the remote API (WinPcap and its successors), offline otherwise.
include(CheckFunctionExists)
set(CMAKE_REQUIRED_LIBRARIES ${PCAP_LIBRARY})
if(WIN32)
  list(APPEND CMAKE_REQUIRED_LIBRARIES ws2_32)
endif()
check_function_exists(pcap_open TILLWIRE_HAVE_PCAP_OPEN)
# Live reads are bounded by polling the handle's descriptor where it has one.
check_function_exists(pcap_get_selectable_fd TILLWIRE_HAVE_PCAP_SELECTABLE_FD)
unset(CMAKE_REQUIRED_LIBRARIES)

if(TILLWIRE_TESTS)
  find_package(GTest REQUIRED)
endif()
