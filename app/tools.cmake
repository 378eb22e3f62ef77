# tavimo-ports: the port map from the command line.
add_executable(tavimo-ports tools/tavimo-ports.cpp)
target_link_libraries(tavimo-ports PRIVATE comlane mtobj platform)
install(TARGETS tavimo-ports RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# tavimo-calibrate: a raw sensor's calibration, kept per device in the registry.
add_executable(tavimo-calibrate tools/tavimo-calibrate.cpp)
target_link_libraries(tavimo-calibrate PRIVATE mtobj attfilter platform)
install(TARGETS tavimo-calibrate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
