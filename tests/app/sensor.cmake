# Sensor acquisition: the sensor link on the simulated sensor, the sample buffer, the
# Euler log, the health check and the alarm client.
tavimo_test(app_sensor_tests THREADED
  SOURCES SampleBufferTest.cpp XsensModuleTest.cpp EulerLogTest.cpp HealthCheckTest.cpp AlarmClientTest.cpp
  LIBS tavimo_core)
# From the simulated sensor through the sensor link and the telegram workers to virtual ports.
tavimo_test(app_sensor_telegram_tests THREADED TIMEOUT 120
  SOURCES SensorToTelegramTest.cpp
  LIBS tavimo_core comlane)
