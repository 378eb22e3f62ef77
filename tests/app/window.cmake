tavimo_test(app_window_tests SOURCES TavimoDlgTest.cpp LIBS tavimo_ui comlane Qt6::Test GUI TIMEOUT 120)
