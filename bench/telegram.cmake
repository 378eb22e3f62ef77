tavimo_benchmark(bench_telegram SOURCES TelegramBench.cpp LIBS tavimo_core comlane)
# The allocation counter the tests use too.
target_include_directories(bench_telegram PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
