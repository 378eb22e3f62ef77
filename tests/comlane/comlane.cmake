tavimo_test(comlane_queue_tests SOURCES ThreadSafeQueueTest.cpp LIBS comlane THREADED)
tavimo_test(comlane_serial_tests SOURCES SerialDeviceTest.cpp SerialTest.cpp
  LIBS comlane tickwise interfaces THREADED)
