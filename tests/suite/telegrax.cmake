tavimo_test(suite_telegrax_tests SOURCES ByteStuffingTest.cpp TelegraxTest.cpp
  LIBS telegrax comlane THREADED)
if(TARGET suite_telegrax_tests)
  target_include_directories(suite_telegrax_tests PRIVATE ${PROJECT_SOURCE_DIR}/suite/telegrax/src)
endif()
