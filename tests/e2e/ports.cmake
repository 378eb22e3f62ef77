# tavimo-ports as a user runs it.
tavimo_test(e2e_ports_tests SOURCES TavimoPortsTest.cpp ProcessRunner.cpp LIBS platform mtobj
            TIMEOUT 120)
if(TARGET e2e_ports_tests)
  add_dependencies(e2e_ports_tests tavimo-ports)
  target_compile_definitions(e2e_ports_tests PRIVATE TAVIMO_PORTS_BINARY="$<TARGET_FILE:tavimo-ports>")
endif()
