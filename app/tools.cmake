# tavimo-ports: the port map from the command line.
add_executable(tavimo-ports tools/tavimo-ports.cpp)
target_link_libraries(tavimo-ports PRIVATE comlane mtobj platform)
install(TARGETS tavimo-ports RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
