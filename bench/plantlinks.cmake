# Modbus server against libmodbus's own, the screen share against plain grab + OpenCV,
# and the detection-cycle timer's lateness with the share on and off.
find_package(PkgConfig REQUIRED)
pkg_check_modules(MODBUS REQUIRED IMPORTED_TARGET libmodbus)
mm_add_bench(plantlinks_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/plantlinks_bench.cpp
  LIBS mm_netservices mm_platform Qt5::Widgets PkgConfig::MODBUS opencv_core opencv_imgproc)
