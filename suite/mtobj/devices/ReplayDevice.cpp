// A capture file as a source of sensor records: the `replay:FILE` device plays what a real
// device delivered, at its recorded pace or as fast as the module takes it. A start plays
// the capture from its beginning, once: at its end the device falls silent, also through a
// start again, unless "loop:" asks for it over and over. The capture is read
// as it plays, a record ahead, so a capture of any size plays in little memory.
#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

#include "interfaces/ErrorLog.h"
#include "interfaces/Tickwise.h"
#include "mtobj/RecordDevice.h"
#include "platform/Sync.h"

namespace mtobj {
namespace {

// As fast as possible still goes in batches of this many records, so that the module's
// queue keeps every sample.
constexpr std::size_t kFastBatch = 256;

class CReplaySource final : public IRecordSource {
public:
    explicit CReplaySource(const std::string& argument) {
        // "fast:" and "loop:" in front of the file, in either order.
        m_path = argument;
        for (bool more = true; more;) {
            more = false;
            if (m_path.rfind("fast:", 0) == 0) {
                m_fast = more = true;
                m_path = m_path.substr(5);
            } else if (m_path.rfind("loop:", 0) == 0) {
                m_loop = more = true;
                m_path = m_path.substr(5);
            }
        }
        m_log.SetModuleName("Tavimo");
        m_log.SetObjectName("ReplayDevice");
        m_log.EnableTrace(true);
    }

    // Opens the capture and reads up to its first sample: a capture that is no capture says
    // so here; one broken further on ends its replay there, traced.
    bool Open(std::string* reason) override {
        std::lock_guard lock(m_mutex);
        if (!m_reader.Open(m_path, reason)) {
            return false;
        }
        m_hasSample = false;
        SensorRecord r;
        std::string why;
        while (m_reader.Next(r, &why)) {
            if (!r.restart) {
                m_hasSample = true;
                m_first = r.seconds;
                m_fused = r.hasQuaternion;
                break;
            }
        }
        if (!why.empty()) {
            if (reason != nullptr) {
                *reason = m_path + ": " + why;
            }
            m_reader.Close();
            return false;
        }
        return true;
    }
    void Close() override {
        std::lock_guard lock(m_mutex);
        m_reader.Close();
    }
    std::string Id() const override {
        std::lock_guard lock(m_mutex);
        return m_reader.DeviceId();
    }
    bool Start(int, std::string* reason) override {
        std::lock_guard lock(m_mutex);
        if (!m_hasSample) {
            if (reason != nullptr) {
                *reason = m_path + ": the capture holds no samples";
            }
            return false;
        }
        m_wake.Reset();
        if (m_played && !m_loop) {
            // Played to its end once: a start again (the health check's reconnect) finds it
            // silent, as a sensor that has gone is.
            return true;
        }
        if (!m_reader.Rewind(reason)) {
            return false;
        }
        m_pending.reset();
        m_ended = false;
        m_startPc = CTickwise::GetPCMilliSecs() / 1000.0;
        return true;
    }
    void Stop() override {}
    bool Read(std::vector<SensorRecord>& records, DWORD timeoutMs) override {
        std::unique_lock lock(m_mutex);
        if (!Peek()) {
            lock.unlock();
            m_wake.Wait(timeoutMs);
            return false;
        }
        if (!m_fast) {
            // Wait until the next record is due on the PC clock.
            const double due = PcSeconds(m_pending->seconds);
            const double waitMs = (due - CTickwise::GetPCMilliSecs() / 1000.0) * 1000.0;
            if (waitMs > 0) {
                lock.unlock();
                if (m_wake.Wait(static_cast<DWORD>(std::min<double>(waitMs + 1, timeoutMs)))) {
                    return false;
                }
                lock.lock();
            }
        }
        const double now = CTickwise::GetPCMilliSecs() / 1000.0;
        const std::size_t before = records.size();
        while (Peek() && (m_fast ? records.size() - before < kFastBatch
                                 : m_pending->restart || PcSeconds(m_pending->seconds) <= now)) {
            records.push_back(*m_pending);
            m_pending.reset();
        }
        return records.size() > before;
    }
    void Interrupt() override { m_wake.Set(); }
    double PcSeconds(double recordSeconds) const override {
        return m_startPc + (recordSeconds - m_first);
    }
    bool Recordable() const override { return false; }
    bool Fused() const override {
        std::lock_guard lock(m_mutex);
        return m_fused;
    }

private:
    // The next record read ahead; false at the end of the capture (or a line that is not a
    // record, traced once).
    bool Peek() {
        if (m_pending) {
            return true;
        }
        if (m_ended) {
            return false;
        }
        SensorRecord r;
        std::string why;
        if (m_reader.Next(r, &why)) {
            m_pending = r;
            return true;
        }
        if (why.empty() && m_loop && m_reader.Rewind(&why)) {
            // Over again: from now on the PC clock, after a restart the filter starts anew on.
            m_startPc = CTickwise::GetPCMilliSecs() / 1000.0;
            m_pending = SensorRecord{.restart = true};
            return true;
        }
        m_ended = m_played = true;
        if (!why.empty()) {
            m_log.TraceNow("Read", "%s: %s; the replay ends here", m_path.c_str(), why.c_str());
        } else {
            m_log.TraceNow("Read",
                           "%s played to its end: the sensor falls silent (replay:loop:FILE "
                           "plays a capture over and over)",
                           m_path.c_str());
        }
        return false;
    }

    mutable std::mutex m_mutex;
    std::string m_path;
    bool m_fast = false;
    bool m_loop = false;
    bool m_played = false;  // played to its end: a start again stays silent (unless looping)
    CCaptureReader m_reader;
    std::optional<SensorRecord> m_pending;
    bool m_ended = false;
    bool m_hasSample = false;
    bool m_fused = false;
    double m_startPc = 0;
    double m_first = 0;
    CEvent m_wake;
    CErrorLog m_log;
};

}  // namespace

std::unique_ptr<IRecordSource> MakeReplaySource(const std::string& argument) {
    return std::make_unique<CReplaySource>(argument);
}

}  // namespace mtobj
