# NG image mirror to a disk beside a plain copy of the same JPEGs; statistics
# page refresh for 8 cameras x 8 detections beside plain sums; export of 31
# days beside the export program alone.
mm_add_bench(statsscreens_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/statsscreens_bench.cpp
  LIBS mm_statsscreens mm_statsdisk Qt5::Sql)
add_dependencies(statsscreens_bench export_result_statistics)
target_compile_definitions(statsscreens_bench PRIVATE MM_BENCH_BINARY_DIR="${CMAKE_BINARY_DIR}")
