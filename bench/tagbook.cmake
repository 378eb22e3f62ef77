tavimo_benchmark(tagbook_bench SOURCES TagbookBench.cpp LIBS tagbook)
