tavimo_benchmark(bench_network SOURCES NetworkBench.cpp LIBS telegrax comlane)
