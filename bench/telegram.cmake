tavimo_benchmark(bench_telegram SOURCES TelegramBench.cpp LIBS tavimo_core comlane)
