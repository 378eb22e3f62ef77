tavimo_test(app_telegram_format_tests SOURCES TelegramsTest.cpp LIBS tavimo_core)
tavimo_test(app_telegram_worker_tests SOURCES TelegramWorkerTest.cpp LIBS tavimo_core comlane
  THREADED)
# An instrument's telegrams on the sensor port through the sensor link to the telegram outputs.
tavimo_test(app_telegram_sensor_tests THREADED TIMEOUT 240
  SOURCES TelegramSensorTest.cpp
  LIBS tavimo_core comlane)
