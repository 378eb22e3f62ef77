tavimo_test(app_window_tests SOURCES TavimoDlgTest.cpp LIBS tavimo_ui Qt6::Test GUI TIMEOUT 120)
