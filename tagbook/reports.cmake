# Settings, units and reports: the program's version for the settings' version check and
# the reports, libxslt, the HTML report style sheet built into the library, and the
# example report program.
target_link_libraries(tagbook PUBLIC LibXslt::LibXslt)
target_compile_definitions(tagbook PRIVATE TAGBOOK_FILE_VERSION="${PROJECT_VERSION}")

set(tagbook_report_xsl ${CMAKE_CURRENT_SOURCE_DIR}/resources/ReportHtml.xsl)
file(READ ${tagbook_report_xsl} TAGBOOK_REPORT_HTML_XSL)
configure_file(src/ReportHtmlXsl.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/ReportHtmlXsl.cpp @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tagbook_report_xsl})
target_sources(tagbook PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/ReportHtmlXsl.cpp)

# tagbook_report [file.html]: the report of a small survey-probe block, in HTML.
add_executable(tagbook_report example/TagbookReport.cpp)
target_link_libraries(tagbook_report PRIVATE tagbook)
