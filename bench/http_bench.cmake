# HTTP layer against nginx with wrk on loopback (both from apt: wrk, nginx); run by hand, never by CI.
mm_add_bench(http_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp LIBS mm_netcore mm_config mm_platform)
