// A capture file as a source of sensor records: the `replay:FILE` device plays what a real
// device delivered, at its recorded pace or as fast as the module takes it. A start plays
// the capture from its beginning; at its end the device falls silent.
#include <algorithm>
#include <mutex>
#include <utility>

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
        m_path = argument;
        if (argument.rfind("fast:", 0) == 0) {
            m_fast = true;
            m_path = argument.substr(5);
        }
    }

    bool Open(std::string* reason) override {
        std::lock_guard lock(m_mutex);
        auto capture = ReadCapture(m_path, reason);
        if (!capture) {
            return false;
        }
        m_capture = std::move(*capture);
        return true;
    }
    void Close() override {}
    std::string Id() const override {
        std::lock_guard lock(m_mutex);
        return m_capture.deviceId;
    }
    bool Start(int, std::string* reason) override {
        std::lock_guard lock(m_mutex);
        if (m_capture.records.empty()) {
            if (reason != nullptr) {
                *reason = m_path + ": the capture holds no samples";
            }
            return false;
        }
        m_next = 0;
        m_startPc = CTickwise::GetPCMilliSecs() / 1000.0;
        m_first = -1;
        for (const auto& r : m_capture.records) {
            if (!r.restart) {
                m_first = r.seconds;
                break;
            }
        }
        m_wake.Reset();
        return true;
    }
    void Stop() override {}
    bool Read(std::vector<SensorRecord>& records, DWORD timeoutMs) override {
        std::unique_lock lock(m_mutex);
        const auto& all = m_capture.records;
        if (m_next >= all.size()) {
            lock.unlock();
            m_wake.Wait(timeoutMs);
            return false;
        }
        if (!m_fast) {
            // Wait until the next record is due on the PC clock.
            const double due = PcSeconds(all[m_next].seconds);
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
        while (m_next < all.size() &&
               (m_fast ? records.size() - before < kFastBatch
                       : all[m_next].restart || PcSeconds(all[m_next].seconds) <= now)) {
            records.push_back(all[m_next++]);
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
        for (const auto& r : m_capture.records) {
            if (!r.restart) {
                return r.hasQuaternion;
            }
        }
        return false;
    }

private:
    mutable std::mutex m_mutex;
    std::string m_path;
    bool m_fast = false;
    Capture m_capture;
    std::size_t m_next = 0;
    double m_startPc = 0;
    double m_first = 0;
    CEvent m_wake;
};

}  // namespace

std::unique_ptr<IRecordSource> MakeReplaySource(const std::string& argument) {
    return std::make_unique<CReplaySource>(argument);
}

}  // namespace mtobj
