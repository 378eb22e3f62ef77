tavimo_test(platform_sync_tests SOURCES SyncTest.cpp BaseThreadTest.cpp LIBS platform THREADED)
tavimo_test(platform_tests
  SOURCES RegistryTest.cpp ComTest.cpp RegistrarTest.cpp ResourcesTest.cpp CommandLineTest.cpp
          OleDateTimeTest.cpp PathsTest.cpp FileTest.cpp ProcessTest.cpp
  LIBS platform)
# Real-time scheduling of the data path's threads, and its fallback.
tavimo_test(platform_scheduling_tests SOURCES SchedulingTest.cpp LIBS platform THREADED)
