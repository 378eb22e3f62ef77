tavimo_test(suite_logmill_tests SOURCES LogmillTest.cpp LIBS logmill)
