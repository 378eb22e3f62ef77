tavimo_test(utilon_values_tests SOURCES PointsTest.cpp ColourTest.cpp TimeTagTest.cpp LIBS utilon)
tavimo_test(utilon_tree_tests SOURCES TreeObjectTest.cpp LIBS utilon)
tavimo_test(utilon_values_threaded_tests SOURCES ValuesThreadedTest.cpp LIBS utilon THREADED)
