tavimo_test(comlane_queue_tests SOURCES ThreadSafeQueueTest.cpp LIBS comlane THREADED)
tavimo_test(comlane_serial_tests SOURCES SerialDeviceTest.cpp SerialTest.cpp
  LIBS comlane tickwise interfaces THREADED)
# The network ports on loopback; changes to the network itself run in a namespace the test
# makes with `unshare -n`.
tavimo_test(comlane_network_tests SOURCES NetworkPortTest.cpp LIBS comlane THREADED TIMEOUT 300)
