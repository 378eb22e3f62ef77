tavimo_test(utilon_numbers_tests SOURCES NumbersTest.cpp TextTest.cpp CommandLineInfoExTest.cpp LIBS utilon)
