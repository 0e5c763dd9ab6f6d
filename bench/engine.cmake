# Inspection engine: the check of a frame, alignment, positioning and learning,
# each beside the same OpenCV and vision-library calls strung together bare.
mm_add_bench(engine_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp LIBS mm_camera mm_vision mm_netservices mm_config)
target_include_directories(engine_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/vision ${PROJECT_SOURCE_DIR}/tests/camera)
