tavimo_test(e2e_module_tests SOURCES ModuleTest.cpp ProcessRunner.cpp LIBS tavimo_core TIMEOUT 120)
if(TARGET e2e_module_tests)
  add_dependencies(e2e_module_tests tavimo)
  target_compile_definitions(e2e_module_tests PRIVATE TAVIMO_BINARY="$<TARGET_FILE:tavimo>")
endif()
# The module as the attitude hub of a vessel's own instruments (telegrams in, telegrams out).
tavimo_test(e2e_telegram_hub_tests SOURCES TelegramHubTest.cpp ProcessRunner.cpp
            LIBS tavimo_core comlane TIMEOUT 120)
if(TARGET e2e_telegram_hub_tests)
  add_dependencies(e2e_telegram_hub_tests tavimo)
  target_compile_definitions(e2e_telegram_hub_tests PRIVATE TAVIMO_BINARY="$<TARGET_FILE:tavimo>")
endif()
