tavimo_benchmark(bench_filter SOURCES FilterBench.cpp MadgwickFilter.cpp LIBS attfilter mtobj)
