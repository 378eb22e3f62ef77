tavimo_test(suite_trace_clock_tests SOURCES ErrorLogTest.cpp TickwiseTest.cpp LIBS faultbook tickwise)
