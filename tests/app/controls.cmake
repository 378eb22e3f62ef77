tavimo_test(app_controls_tests SOURCES LatitudeEditTest.cpp LIBS tavimo_ui Qt6::Test GUI)
