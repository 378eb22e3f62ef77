tavimo_test(utilon_values_tests SOURCES PointsTest.cpp ColourTest.cpp LIBS utilon)
tavimo_test(utilon_tree_tests SOURCES TreeObjectTest.cpp LIBS utilon)
