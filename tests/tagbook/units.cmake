tavimo_test(tagbook_unit_tests SOURCES UnitBlockTest.cpp LIBS tagbook)
