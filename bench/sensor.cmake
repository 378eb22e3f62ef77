tavimo_benchmark(sensor_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SensorBench.cpp LIBS tavimo_core comlane)
