# HTTP API routes under wrk while 8 cameras are checked once a second from a 100 ms
# cycle timer in the same (GUI) thread, beside a bare route and nginx; cycle timer
# jitter and check time; count query route over 31 and 366 days.
mm_add_bench(netservices_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/netservices_bench.cpp
  LIBS mm_netservices mm_camera mm_stats mm_config mm_platform Qt5::Widgets Qt5::Sql)
target_include_directories(netservices_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/vision ${PROJECT_SOURCE_DIR}/tests/camera)
