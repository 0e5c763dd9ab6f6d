# Camera units: the camera view paint beside a plain QPainter::drawImage of the
# same frame, and the start-up of 8 simulated cameras (time and memory).
mm_add_bench(camera_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/camera_bench.cpp LIBS mm_camera mm_settings mm_widgets mm_config)
if(TARGET simcamera)
  add_dependencies(camera_bench simcamera)
endif()
