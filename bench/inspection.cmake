# Inspection accuracy: the engine and a plain OpenCV check on the rendered mould
# (not a Google Benchmark program: it prints confusion tables and times).
# The plain check aligns with ECC, which lives in OpenCV's video module.
find_package(OpenCV 4 REQUIRED COMPONENTS video)
add_executable(inspection_eval ${CMAKE_CURRENT_LIST_DIR}/inspection_eval.cpp)
target_include_directories(inspection_eval PRIVATE ${PROJECT_SOURCE_DIR}/tests/vision ${PROJECT_SOURCE_DIR}/tests/camera)
target_link_libraries(inspection_eval PRIVATE mm_camera mm_vision mm_netservices mm_config opencv_video)
