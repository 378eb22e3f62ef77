tavimo_test(utilon_soundspeed_tests SOURCES SoundSpeedTest.cpp LIBS utilon)
