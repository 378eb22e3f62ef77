# Sensor devices beside the simulator: the IIO scan decoder, the capture file, the IIO and
# replay devices on a fake device tree, the calibration store and tool.
tavimo_test(devices_iio_tests THREADED TIMEOUT 180
  SOURCES IioScanTest.cpp SensorCaptureTest.cpp IioDeviceTest.cpp CalibrationTest.cpp
  LIBS mtobj attfilter platform faultbook)
add_dependencies(devices_iio_tests tavimo-calibrate)
target_compile_definitions(devices_iio_tests PRIVATE
  TAVIMO_CALIBRATE_BIN="$<TARGET_FILE:tavimo-calibrate>")
# The whole module (sensor link, telegram worker on a virtual port) on fake IIO devices.
tavimo_test(devices_module_tests THREADED TIMEOUT 240
  SOURCES IioModuleTest.cpp
  LIBS tavimo_core comlane)
target_include_directories(devices_module_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/app)
