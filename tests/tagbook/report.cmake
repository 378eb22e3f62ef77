tavimo_test(tagbook_report_tests SOURCES XmlReportTest.cpp LIBS tagbook)
target_include_directories(tagbook_report_tests PRIVATE ${PROJECT_SOURCE_DIR}/tagbook/example)
