# Production count query over 31 and 366 archived days beside reading and parsing the same day files.
mm_add_bench(countquery_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/countquery_bench.cpp LIBS mm_stats Qt5::Sql)
