tavimo_test(app_telegram_format_tests SOURCES TelegramsTest.cpp LIBS tavimo_core)
tavimo_test(app_telegram_worker_tests SOURCES TelegramWorkerTest.cpp LIBS tavimo_core comlane
  THREADED)
