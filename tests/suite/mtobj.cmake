tavimo_test(suite_mtobj_tests THREADED SOURCES MtObjTest.cpp SimulatedDeviceTest.cpp LIBS mtobj)
# Reading telegrams from another instrument: the sentences, this module's own telegrams read
# back (the telegram formats of the core), and the device on virtual ports.
tavimo_test(suite_telegram_device_tests THREADED TIMEOUT 120
  SOURCES TelegramSentencesTest.cpp TelegramDeviceTest.cpp
  LIBS tavimo_core comlane)
