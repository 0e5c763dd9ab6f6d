# HTTP API routes under wrk while a simulated 100 ms detection cycle runs in the same
# (GUI) thread, beside a bare route; cycle timer jitter; count query route over 31 and 366 days.
mm_add_bench(netservices_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/netservices_bench.cpp
  LIBS mm_netservices mm_stats mm_platform Qt5::Widgets Qt5::Sql)
