tavimo_test(tagbook_report_tests SOURCES XmlReportTest.cpp LIBS tagbook)
# The ThreadSanitizer build leaves unthreaded tests out.
if(TARGET tagbook_report_tests)
  target_include_directories(tagbook_report_tests PRIVATE ${PROJECT_SOURCE_DIR}/tagbook/example)
endif()
