# Network cards and software download: the card poll's cost on the GUI thread
# beside a blocking ifconfig poll, and a 200 MB package download from nginx beside curl.
mm_add_bench(netcards_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/netcards_bench.cpp
  LIBS mm_netservices mm_testsupport Qt5::Widgets Qt5::Network ZLIB::ZLIB)
