tavimo_test(app_telegram_format_tests SOURCES TelegramsTest.cpp LIBS tavimo_core)
tavimo_test(app_telegram_worker_tests SOURCES TelegramWorkerTest.cpp LIBS tavimo_core comlane
  THREADED)
# An instrument's telegrams on the sensor port through the sensor link to the telegram outputs.
tavimo_test(app_telegram_sensor_tests THREADED TIMEOUT 240
  SOURCES TelegramSensorTest.cpp
  LIBS tavimo_core comlane)
# gpsd (a real consumer) reads the heading from network ports on the loopback.
tavimo_test(app_gpsd_tests SOURCES GpsdReadsTavimoTest.cpp LIBS tavimo_core comlane THREADED
  TIMEOUT 120)
# tavimo-ports maps names to network targets.
tavimo_test(app_ports_tool_tests SOURCES PortsToolTest.cpp LIBS comlane)
if(TARGET app_ports_tool_tests)
  add_dependencies(app_ports_tool_tests tavimo-ports)
  target_compile_definitions(app_ports_tool_tests PRIVATE
                             TAVIMO_PORTS_BINARY="$<TARGET_FILE:tavimo-ports>")
endif()
# The service manager's readiness and watchdog protocol, through a socket of the test's own.
tavimo_test(app_service_watchdog_tests SOURCES ServiceWatchdogTest.cpp LIBS tavimo_core THREADED)
# The send path allocates nothing once it runs (the program counts every allocation).
tavimo_test(app_telegram_allocation_tests SOURCES TelegramAllocationTest.cpp LIBS tavimo_core comlane)
