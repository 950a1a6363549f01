# Finds Tillwire's libraries and presents each as one imported target:
# tillwire::boost, tillwire::tinyxml, tillwire::pcap. The same names serve the
# Linux build (Debian packages) and the Windows cross build (libraries built
# from Debian's sources into a prefix that the toolchain file points at).

find_package(Boost 1.74 REQUIRED COMPONENTS thread filesystem system date_time)
find_package(Threads REQUIRED)
add_library(tillwire::boost INTERFACE IMPORTED)
target_link_libraries(tillwire::boost INTERFACE
  Boost::thread Boost::filesystem Boost::system Boost::date_time Threads::Threads)

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

if(TILLWIRE_TESTS)
  find_package(GTest REQUIRED)
endif()
