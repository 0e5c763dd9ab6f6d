# WebSocket core and UDP reactor against bare Qt sockets doing the same work; run by hand, never by CI.
mm_add_bench(netcore_cores_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/netcore_cores_bench.cpp
             LIBS mm_netcore mm_platform Qt5::WebSockets Qt5::Network)
