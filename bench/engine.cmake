# Inspection engine: the check of a frame (one core and 8 cameras at once), alignment, positioning
# and learning, each beside plain OpenCV calls written for the same decisions.
mm_add_bench(engine_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp LIBS mm_camera mm_netservices mm_config Qt5::Core)
target_include_directories(engine_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/vision ${PROJECT_SOURCE_DIR}/tests/camera)
