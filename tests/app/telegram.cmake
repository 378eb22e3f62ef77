tavimo_test(app_telegram_format_tests SOURCES TelegramsTest.cpp LIBS tavimo_core)
tavimo_test(app_telegram_worker_tests SOURCES TelegramWorkerTest.cpp LIBS tavimo_core comlane
  THREADED)
# gpsd (a real consumer) reads the heading from network ports on the loopback.
tavimo_test(app_gpsd_tests SOURCES GpsdReadsTavimoTest.cpp LIBS tavimo_core comlane THREADED
  TIMEOUT 120)
