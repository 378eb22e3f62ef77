tavimo_test(led_tests SOURCES LedCtrlTest.cpp LIBS led Qt6::Widgets Qt6::Test GUI)
