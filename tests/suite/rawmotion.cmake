tavimo_test(suite_rawmotion_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/RawMotionTest.cpp LIBS mtobj)
