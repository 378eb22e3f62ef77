# Another instrument's telegrams relayed through Tavimo, beside gpsd doing the same relay.
tavimo_benchmark(telegram_relay_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/TelegramRelayBench.cpp
                 LIBS tavimo_core comlane)
