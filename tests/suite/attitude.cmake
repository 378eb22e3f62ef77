tavimo_test(suite_attitude_tests SOURCES AttitudeControlsTest.cpp LIBS attitude GUI)
