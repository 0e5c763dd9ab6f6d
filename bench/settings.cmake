# Editing screens: opening the settings screen and the ROI editor with 8 cameras
# and the camera view's repaint while a finger drags a ROI, each beside plain Qt.
mm_add_bench(settings_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp LIBS mm_settings mm_camera mm_widgets mm_config)
if(TARGET simcamera)
  add_dependencies(settings_bench simcamera)
endif()
