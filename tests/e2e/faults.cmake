# Faults injected into the real program: the store writer is the process killed in the
# middle of store writes.
if(TARGET logmill AND NOT TAVIMO_SANITIZE STREQUAL "thread")
  add_executable(store_writer StoreWriter.cpp)
  target_link_libraries(store_writer PRIVATE platform "$<LINK_LIBRARY:TAVIMO_COM_SERVER,logmill>")
  tavimo_test(e2e_fault_tests
    SOURCES FaultTest.cpp ProcessRunner.cpp
    LIBS tavimo_core tavimo_test_ports comlane LibXml2::LibXml2 SQLite::SQLite3
    TIMEOUT 300)
  add_dependencies(e2e_fault_tests tavimo store_writer)
  target_compile_definitions(e2e_fault_tests PRIVATE TAVIMO_BINARY="$<TARGET_FILE:tavimo>"
                             STORE_WRITER_BINARY="$<TARGET_FILE:store_writer>")
  # The soak (not in CI): scripts/soak.sh runs it.
  add_executable(tavimo_soak Soak.cpp ProcessRunner.cpp)
  target_link_libraries(tavimo_soak PRIVATE tavimo_test_ports tavimo_core comlane)
  target_include_directories(tavimo_soak PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
endif()
