// What the service watchdog watches: process-wide counts of the data path, bumped by the
// threads of the path itself (one relaxed atomic add each: no lock, no allocation).
#pragma once

#include <atomic>
#include <cstdint>

class CServiceActivity {
public:
    struct Counts {
        std::uint64_t samples = 0;    // samples the sensor link stored
        std::uint64_t handed = 0;     // attitudes handed to an output that holds a port
        std::uint64_t answered = 0;   // telegrams its port answered: taken, or dropped
                                      // at once because the line is behind
        std::uint64_t telegrams = 0;  // telegrams its port took whole
    };

    static void SampleArrived() { s_samples.fetch_add(1, std::memory_order_relaxed); }
    static void AttitudeHanded() { s_handed.fetch_add(1, std::memory_order_relaxed); }
    // After every send: `taken` when the port took the telegram whole.
    static void TelegramAnswered(bool taken) {
        s_answered.fetch_add(1, std::memory_order_relaxed);
        if (taken) {
            s_telegrams.fetch_add(1, std::memory_order_relaxed);
        }
    }
    static Counts Read() {
        return {s_samples.load(std::memory_order_relaxed), s_handed.load(std::memory_order_relaxed),
                s_answered.load(std::memory_order_relaxed),
                s_telegrams.load(std::memory_order_relaxed)};
    }

private:
    static inline std::atomic<std::uint64_t> s_samples{0};
    static inline std::atomic<std::uint64_t> s_handed{0};
    static inline std::atomic<std::uint64_t> s_answered{0};
    static inline std::atomic<std::uint64_t> s_telegrams{0};
};
