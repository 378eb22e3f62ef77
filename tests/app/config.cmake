tavimo_test(app_config_tests SOURCES ConfigTest.cpp SettingsTest.cpp LIBS tavimo_core)
