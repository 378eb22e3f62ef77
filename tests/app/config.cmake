tavimo_test(app_config_tests SOURCES ConfigTest.cpp LIBS tavimo_core)
