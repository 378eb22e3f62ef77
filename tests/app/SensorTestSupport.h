// Fakes the sensor tests share: a controllable PC clock, captured traces and message
// boxes, and a telegram output that records the attitudes it is given.
#pragma once

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/TelegramOutput.h"
#include "interfaces/ErrorLog.h"
#include "interfaces/Tickwise.h"
#include "platform/Prompt.h"
#include "platform/Sync.h"

namespace sensor_test {

// The test process's private temporary root: the parent of the private home.
inline std::string PrivateRoot() {
    const char* home = std::getenv("HOME");
    std::string root = home != nullptr ? home : "/tmp";
    return root.substr(0, root.rfind('/'));
}

// The PC clock, set by the test.
class FakeClock {
public:
    explicit FakeClock(double start = 1.0e6) : m_now(start) {
        CTickwise::SetClockForTesting([this] { return m_now.load(); });
    }
    ~FakeClock() { CTickwise::SetClockForTesting(nullptr); }
    void Set(double ms) { m_now = ms; }
    void Advance(double ms) { m_now = m_now.load() + ms; }
    double Now() const { return m_now.load(); }

private:
    std::atomic<double> m_now;
};

// Every trace line written while it lives (tracing switched on for all objects).
class TraceCapture {
public:
    TraceCapture() {
        setenv("TAVIMO_TRACE", "1", 1);
        faultbook::RefreshTraceSettings();
        faultbook::SetTraceSink([this](const faultbook::TraceRecord& r) {
            std::lock_guard lock(m_mutex);
            m_records.push_back(r);
        });
    }
    ~TraceCapture() {
        faultbook::SetTraceSink(nullptr);
        unsetenv("TAVIMO_TRACE");
        faultbook::RefreshTraceSettings();
    }
    std::vector<faultbook::TraceRecord> Records() const {
        std::lock_guard lock(m_mutex);
        return m_records;
    }
    bool Has(const std::string& context, const std::string& textPart) const {
        std::lock_guard lock(m_mutex);
        for (const auto& r : m_records) {
            if (r.context == context && r.text.find(textPart) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_records.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<faultbook::TraceRecord> m_records;
};

// Answers every message box with OK and keeps its text.
class PromptRecorder : public IPromptService {
public:
    PromptRecorder() { platform::SetPromptService(this); }
    ~PromptRecorder() override { platform::SetPromptService(nullptr); }
    int Show(const std::string& text, const std::string&, UINT type) override {
        std::lock_guard lock(m_mutex);
        texts.push_back(text);
        types.push_back(type);
        return IDOK;
    }
    std::vector<std::string> texts;
    std::vector<UINT> types;

private:
    std::mutex m_mutex;
};

struct AttitudeRecord {
    int worker;
    double time;
    float roll, pitch, heading, variation;
};

// A telegram output that records what reaches it; all outputs share one journal so the
// order across outputs shows.
class RecordingOutput : public ITelegramOutput {
public:
    struct Journal {
        std::mutex mutex;
        std::vector<AttitudeRecord> attitudes;
        std::vector<std::string> calls;
        CEvent attitudeArrived;
        std::function<void(const AttitudeRecord&)> onAttitude;  // runs on the data path
    };
    RecordingOutput(Journal& journal, int tag) : m_journal(journal), m_tag(tag) {}
    bool Start() override { return Note("Start"); }
    void Stop() override { Note("Stop"); }
    void SetAttitude(double time, float roll, float pitch, float heading,
                     float variation) override {
        const AttitudeRecord r{m_tag, time, roll, pitch, heading, variation};
        if (m_journal.onAttitude) {
            m_journal.onAttitude(r);
        }
        {
            std::lock_guard lock(m_journal.mutex);
            m_journal.attitudes.push_back(r);
        }
        m_journal.attitudeArrived.Set();
    }
    void SetPort(short com, unsigned baud) override {
        Note("SetPort " + std::to_string(com) + " " + std::to_string(baud));
    }
    void SetTelegramType(int type) override { Note("SetTelegramType " + std::to_string(type)); }
    int Tag() const { return m_tag; }
    // Attitude outputs that record into the journal (tag 1), no sensor-side port worker.
    static TelegramOutputFactory Factory(Journal& journal) {
        return {[&journal](int, short, unsigned) {
                    return std::make_unique<RecordingOutput>(journal, 1);
                },
                nullptr};
    }

private:
    bool Note(const std::string& call) {
        std::lock_guard lock(m_journal.mutex);
        m_journal.calls.push_back(std::to_string(m_tag) + " " + call);
        return true;
    }
    Journal& m_journal;
    int m_tag;
};

}  // namespace sensor_test
