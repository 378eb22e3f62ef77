# Helpers that keep every library and test target built the same way.

# tavimo_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...] [QT])
# One library: public headers under <dir>/include, sources under <dir>/src.
function(tavimo_library name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  if(ARG_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON AUTORCC ON)
  endif()
  set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  if(BUILD_SHARED_LIBS)
    # Installed side by side: a library finds the others in its own folder (a RUNPATH is
    # not inherited from the executable).
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tavimo NAMELINK_SKIP)
  endif()
endfunction()

# tavimo_test(<name> SOURCES ... LIBS ... [THREADED] [GUI] [TIMEOUT s])
# One GoogleTest executable. THREADED tests also run under ThreadSanitizer;
# GUI tests run on Qt's offscreen platform.
add_custom_target(threaded_tests)
function(tavimo_test name)
  cmake_parse_arguments(ARG "THREADED;GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  # The ThreadSanitizer build runs the threaded tests only.
  if(TAVIMO_SANITIZE STREQUAL "thread" AND NOT ARG_THREADED)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tavimo_test_support GTest::gmock GTest::gtest_main)
  if(ARG_GUI)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # One label a test (discovered tests take no lists): "threaded" tests also run under
  # ThreadSanitizer, "gui" tests drive widgets on the offscreen platform.
  set(label unit)
  if(ARG_THREADED)
    set(label threaded)
    add_dependencies(threaded_tests ${name})
  elseif(ARG_GUI)
    set(label gui)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${label} TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT TAVIMO_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output)
endfunction()
