tavimo_test(tagbook_item_tests SOURCES PropItemTest.cpp DateTextTest.cpp LIBS tagbook)
tavimo_test(tagbook_block_tests SOURCES DataBlockTest.cpp PropertyDeclarationTest.cpp LIBS tagbook)
tavimo_test(tagbook_thread_tests SOURCES DataBlockThreadTest.cpp LIBS tagbook THREADED)
