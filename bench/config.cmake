# Parameter store and ROI shapes: polygon masks beside cv::fillPoly, store size, full store save.
mm_add_bench(config_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/config_bench.cpp LIBS mm_config Qt5::Sql)
