tavimo_test(suite_mtobj_tests THREADED SOURCES MtObjTest.cpp SimulatedDeviceTest.cpp LIBS mtobj)
