tavimo_test(tagbook_unit_tests SOURCES UnitBlockTest.cpp LIBS tagbook)
tavimo_test(tagbook_unit_thread_tests SOURCES UnitBlockThreadTest.cpp LIBS tagbook THREADED)
