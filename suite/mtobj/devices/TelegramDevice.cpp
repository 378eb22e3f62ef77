// The telegram device: another instrument on the sensor port already sends its heading and
// attitude as telegrams (HDT, HDG, HDM, THS, PRDID, TSS1); this device reads them and
// delivers them as samples, so everything downstream works as with the sensor itself.
//
// The sender sets the rate: a sample-rate change is refused, filter settings do not apply.
// Lines are stamped at the PC time of their last byte less their time on the line. What
// was read, used and dropped (by reason) is counted, traced, and published in the registry
// value "Counters" beside "Port" and "Kind", where `tavimo-ports sensor` shows it.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "comlane/SerialDevice.h"
#include "interfaces/ErrorLog.h"
#include "interfaces/Tickwise.h"
#include "mtobj/MTObj.h"
#include "mtobj/SensorDevice.h"
#include "mtobj/TelegramSentences.h"
#include "platform/Registry.h"
#include "platform/Sync.h"

namespace mtobj {
namespace {

using telegrams::EDrop;

// How long opening listens for the sender, to name it and learn its rate.
constexpr double kListenMs = 1500.0;
constexpr int kListenSamples = 6;
// The rate reported before the sender's rate is known.
constexpr std::int16_t kAssumedRate = 10;
// Waits are cut into slices so that a stop is seen soon.
constexpr DWORD kSliceMs = 20;
// Counters are published this often while they change (a durable registry write each time),
// and at every stop.
constexpr DWORD kPublishMs = 10000;

// Counters of one device, written by the reading thread and read by the publisher.
struct Counters {
    std::atomic<std::uint64_t> read{0};
    std::atomic<std::uint64_t> used{0};
    std::atomic<std::uint64_t> samples{0};
    std::array<std::atomic<std::uint64_t>, telegrams::kDropReasons> dropped{};

    std::string Text() const {
        std::uint64_t total = 0;
        std::string reasons;
        for (std::size_t i = 0; i < dropped.size(); ++i) {
            const std::uint64_t n = dropped[i].load();
            total += n;
            if (n != 0) {
                reasons += std::string(reasons.empty() ? "" : ", ") +
                           telegrams::DropName(static_cast<EDrop>(i)) + " " + std::to_string(n);
            }
        }
        std::string text = "lines read " + std::to_string(read.load()) + ", used " +
                           std::to_string(used.load()) + ", samples delivered " +
                           std::to_string(samples.load()) + ", dropped " + std::to_string(total);
        return reasons.empty() ? text : text + " (" + reasons + ")";
    }
};

// A motion telegram's heave is passed on while the sender keeps sending them; this long
// without one, there is none.
constexpr std::chrono::seconds kMotionFreshFor{2};
// Samples needed before a rate is measured from them.
constexpr std::uint64_t kRateSamples = 3;

// A line as it may be traced: printable, and not too long.
std::string Printable(std::string_view line) {
    std::string text;
    for (const char c : line.substr(0, 100)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            text += hex;
        }
    }
    return text;
}

class CTelegramDevice final : public ISensorDevice {
public:
    CTelegramDevice(std::string port, double gapMs) : m_port(std::move(port)), m_combiner(gapMs) {
        m_log.SetModuleName("Tavimo");
        m_log.SetObjectName("CTelegramDevice");
        m_publisher = std::thread([this] { PublishLoop(); });
    }
    ~CTelegramDevice() override {
        Close();
        m_quit = true;
        m_publishNow.Set();
        m_publisher.join();
    }

    HRESULT Open(const std::string& port, LONG baud) override {
        std::lock_guard lock(m_mutex);
        CloseLocked();
        if (port != m_port || baud <= 0) {
            return E_FAIL;
        }
        std::string error;
        if (!comlane::OpenNamedPort(port, m_serial, &error) ||
            !m_serial.SetLine({static_cast<unsigned>(baud), 8, 0, 0})) {
            m_log.TraceNow("Open", "%s cannot be opened: %s", port.c_str(), error.c_str());
            std::fprintf(stderr, "Tavimo: the telegram sender's port %s cannot be opened: %s\n",
                         port.c_str(), error.c_str());
            m_serial.Close();
            return E_FAIL;
        }
        m_baud = baud;
        m_configured = false;  // the rate heard now is the one to keep
        m_charMs = comlane::CharacterTime({static_cast<unsigned>(baud), 8, 0, 0});
        m_log.Trace("Open", "reading telegrams on %s (%s) at %ld baud, gap %.0f ms", port.c_str(),
                    m_serial.Path().c_str(), static_cast<long>(baud), m_combiner.GapMs());
        Listen();
        return S_OK;
    }

    void Close() override {
        Stop();
        std::lock_guard lock(m_mutex);
        CloseLocked();
    }

    std::optional<Motion> CurrentMotion() const override {
        std::lock_guard lock(m_motionMutex);
        if (!m_motion || std::chrono::steady_clock::now() - m_motionAt > kMotionFreshFor) {
            return std::nullopt;
        }
        return m_motion;
    }

    std::string DeviceId() const override {
        std::lock_guard lock(m_idMutex);
        if (m_sources.empty()) {
            return "telegrams";
        }
        std::string id;
        for (const auto& source : m_sources) {
            id += (id.empty() ? "" : "+") + source;
        }
        return m_headingOnly ? id + " (no roll/pitch)" : id;
    }

    HRESULT Configure(const SensorConfig& config) override {
        std::lock_guard lock(m_mutex);
        if (m_configured && config.sampleRate != m_config.sampleRate) {
            const int rate = FixedSampleRate();
            m_log.TraceNow("Configure",
                           "Sample rate %d Hz refused: the sender of the telegrams sets the rate "
                           "(about %d Hz now)",
                           config.sampleRate, rate);
            std::fprintf(stderr,
                         "Tavimo: the sensor on %s is a sender of telegrams, which sets its own "
                         "rate (about %d Hz): a sample rate of %d Hz cannot be set\n",
                         m_port.c_str(), rate, config.sampleRate);
            return E_INVALIDARG;
        }
        if (!m_configured || config.gain != m_config.gain || config.weight != m_config.weight ||
            config.filterParameter != m_config.filterParameter) {
            m_log.Trace("Configure",
                        "Filter settings (gain %.2f, weight %.2f) ignored: the sender of the "
                        "telegrams filters its own attitude",
                        static_cast<double>(config.gain), static_cast<double>(config.weight));
        }
        m_config = config;
        m_configured = true;
        return S_OK;
    }

    HRESULT Start() override {
        std::lock_guard lock(m_mutex);
        if (!m_serial.IsOpen() && !Reopen()) {
            return E_FAIL;
        }
        // What arrived while stopped is old: start from the next line.
        m_serial.DiscardInput();
        m_reader.Reset();
        m_combiner.Reset();
        {
            std::lock_guard motion(m_motionMutex);
            m_motion.reset();
        }
        m_lastRate = FixedSampleRate();
        m_rateSamples = 0;
        m_interrupted = false;
        m_running = true;
        return S_OK;
    }

    void Stop() override {
        m_running = false;
        m_interrupted = true;
        m_publishNow.Set();
    }

    bool ReadBatch(std::vector<std::vector<float>>& arrays, double& newestSeconds,
                   DWORD timeoutMs) override {
        std::unique_lock lock(m_mutex);
        const double deadline = CTickwise::GetPCMilliSecs() + timeoutMs;
        bool any = false;
        while (m_running && !any) {
            if (m_interrupted.exchange(false)) {
                return false;
            }
            const double left = deadline - CTickwise::GetPCMilliSecs();
            if (left <= 0) {
                return false;
            }
            if (!m_serial.IsOpen()) {
                lock.unlock();
                m_wake.Wait(std::min<DWORD>(kSliceMs, static_cast<DWORD>(left) + 1));
                lock.lock();
                continue;
            }
            if (!m_serial.WaitReadable(static_cast<int>(std::min<double>(kSliceMs, left + 1)))) {
                continue;
            }
            const long got = ReadOnce([&](const telegrams::Sample& s) {
                AppendAttitude(arrays, Deliverable(s), m_config);
                newestSeconds = s.time / 1000.0;
                any = true;
            });
            if (got == 0) {
                // Readable yet empty: the line hung up. Do not spin on it.
                lock.unlock();
                m_wake.Wait(kSliceMs);
                lock.lock();
            }
        }
        return any;
    }

    void Interrupt() override {
        m_interrupted = true;
        m_wake.Set();
    }

    std::int16_t FixedSampleRate() const override {
        const std::uint64_t n = m_rateSamples.load();
        const double span = m_rateLast.load() - m_rateFirst.load();
        if (n < kRateSamples || span <= 0) {
            return m_lastRate.load();
        }
        const double rate = std::round((static_cast<double>(n) - 1.0) * 1000.0 / span);
        return static_cast<std::int16_t>(std::clamp(rate, 1.0, 512.0));
    }

private:
    // The sensor link reads the heading out of the rotation matrix through roll and pitch,
    // and a matrix of exactly 0 roll and 0 pitch holds no heading (it would read as 0). A
    // level sample, which telegrams in hundredths and heading-only senders give, is
    // therefore tilted by kLevelTilt: below the resolution of every telegram sent on.
    static Attitude Deliverable(const telegrams::Sample& s) {
        constexpr double kLevelTilt = 1e-4;
        const bool level = std::fabs(s.pitch) < kLevelTilt && std::fabs(s.roll) < kLevelTilt;
        return Attitude{s.heading, level ? kLevelTilt : s.pitch, s.roll};
    }

    // Reads what the line holds now, cuts it into lines and gives each sample made to
    // `deliver`; the bytes read, -1 when the line has gone. m_mutex held.
    template <typename Deliver>
    long ReadOnce(Deliver&& deliver) {
        char block[1024];
        const long n = m_serial.Read(block, sizeof block);
        const double now = CTickwise::GetPCMilliSecs();
        if (n < 0) {
            m_log.TraceNow("ReadBatch", "The line %s has gone; reopening at the next start",
                           m_serial.Path().c_str());
            m_serial.Close();
            return -1;
        }
        const auto count = static_cast<std::size_t>(n);
        m_reader.Feed(
            block, count,
            [&](const telegrams::CLineReader::Line& line) {
                const double stamp = line.StartMs(now, count, m_charMs);
                if (const auto sample = Take(line.text, stamp)) {
                    deliver(*sample);
                }
            },
            [&](EDrop reason, std::string_view text) {
                ++m_counters.read;
                Dropped(reason, text);
            });
        return n;
    }

    // One line read: parsed, counted, combined. m_mutex held.
    std::optional<telegrams::Sample> Take(std::string_view line, double stamp) {
        ++m_counters.read;
        const telegrams::ParseResult parsed = telegrams::ParseLine(line);
        if (!parsed.reading) {
            if (parsed.drop == EDrop::NotValid && parsed.note != m_lastNotValid) {
                // Each change of what the sender says (settling, another mode) is traced once.
                m_lastNotValid = parsed.note;
                m_log.Trace("ReadBatch", "Not used, the sender marks it not valid: %s (%s)",
                            Printable(line).c_str(), parsed.note.c_str());
            }
            Dropped(parsed.drop, line);
            return std::nullopt;
        }
        const auto outcome = m_combiner.Add(*parsed.reading, stamp);
        if (outcome.drop) {
            Dropped(*outcome.drop, line);
            return std::nullopt;
        }
        ++m_counters.used;
        if (parsed.reading->motion) {
            std::lock_guard motion(m_motionMutex);
            m_motion = parsed.reading->motion;
            m_motionAt = std::chrono::steady_clock::now();
        }
        NoteSource(parsed.reading->source, outcome.sample && outcome.sample->headingOnly);
        if (!outcome.sample) {
            return std::nullopt;
        }
        ++m_counters.samples;
        if (m_rateSamples.fetch_add(1) == 0) {
            m_rateFirst = stamp;
        }
        m_rateLast = stamp;
        return outcome.sample;
    }

    void Dropped(EDrop reason, std::string_view line) {
        const auto index = static_cast<std::size_t>(reason);
        if (m_counters.dropped[index].fetch_add(1) == 0) {
            // The first of each kind is traced with its text; the counters tell the rest.
            m_log.Trace("ReadBatch", "Line dropped (%s): %s", telegrams::DropName(reason),
                        Printable(line).c_str());
        }
    }

    void NoteSource(const std::string& source, bool headingOnly) {
        std::lock_guard lock(m_idMutex);
        if (std::find(m_sources.begin(), m_sources.end(), source) == m_sources.end()) {
            m_sources.push_back(source);
        }
        if (headingOnly && !m_headingOnly && !m_toldHeadingOnly) {
            m_toldHeadingOnly = true;
            m_log.TraceNow("ReadBatch",
                           "No roll and pitch from the sender (%s): they are delivered as 0",
                           source.c_str());
        }
        m_headingOnly = !m_combiner.SeenAttitude() && (headingOnly || m_headingOnly);
    }

    // Reads for a while after opening: the device id and the rate are known once the
    // sender has been heard. Nothing read here is delivered. m_mutex held.
    void Listen() {
        m_reader.Reset();
        m_combiner.Forget();
        {
            std::lock_guard lock(m_idMutex);
            m_sources.clear();
            m_headingOnly = m_toldHeadingOnly = false;
        }
        m_rateSamples = 0;
        const double until = CTickwise::GetPCMilliSecs() + kListenMs;
        while (m_rateSamples.load() < kListenSamples && m_serial.IsOpen()) {
            const double left = until - CTickwise::GetPCMilliSecs();
            if (left <= 0) {
                break;
            }
            if (m_serial.WaitReadable(static_cast<int>(left) + 1) &&
                ReadOnce([](const telegrams::Sample&) {}) == 0) {
                break;  // hung up
            }
        }
        if (m_rateSamples.load() < kRateSamples) {
            // Too little to measure a rate: the rate stays what it was, and the trace says
            // that nothing was heard rather than a rate nobody sent.
            m_log.Trace("Open",
                        "Heard no usable telegrams on %s in %.1f s; the rate stays %d Hz "
                        "until the sender is heard",
                        m_port.c_str(), kListenMs / 1000.0, m_lastRate.load());
            return;
        }
        m_lastRate = FixedSampleRate();
        m_log.Trace("Open", "Heard %s at about %d Hz", DeviceId().c_str(), m_lastRate.load());
    }

    // The line went away (a serial adapter unplugged): try it again. m_mutex held.
    bool Reopen() {
        if (m_baud <= 0) {
            return false;
        }
        std::string error;
        if (!comlane::OpenNamedPort(m_port, m_serial, &error) ||
            !m_serial.SetLine({static_cast<unsigned>(m_baud), 8, 0, 0})) {
            m_serial.Close();
            return false;
        }
        return true;
    }

    void CloseLocked() {
        m_lastRate = FixedSampleRate();
        m_serial.Close();
        m_running = false;
    }

    // Publishes the counters in the registry and the trace while they change, off the
    // reading thread so that a registry write never delays a sample.
    void PublishLoop() {
        std::string published;
        while (!m_quit.load()) {
            m_publishNow.Wait(kPublishMs);
            const std::string text = m_counters.Text();
            if (text == published) {
                continue;
            }
            published = text;
            m_log.Trace("Counters", "%s: %s", m_port.c_str(), text.c_str());
            CRegKey key;
            if (key.Create(HKEY_CURRENT_USER, kSettingsKey) == ERROR_SUCCESS) {
                key.SetString("Counters", m_port + " " + DeviceId() + ": " + text);
            }
        }
    }

    const std::string m_port;
    mutable CErrorLog m_log;
    std::mutex m_mutex;  // the line, the reader, the combiner, the settings
    comlane::CSerialDevice m_serial;
    LONG m_baud = 0;
    double m_charMs = 0;
    telegrams::CLineReader m_reader;
    telegrams::CSampleCombiner m_combiner;
    std::string m_lastNotValid;
    SensorConfig m_config;
    bool m_configured = false;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_interrupted{false};
    CEvent m_wake;

    // The newest motion a motion telegram brought, and when (m_motionMutex).
    mutable std::mutex m_motionMutex;
    std::optional<Motion> m_motion;
    std::chrono::steady_clock::time_point m_motionAt;

    mutable std::mutex m_idMutex;  // what the sender was heard to send
    std::vector<std::string> m_sources;
    bool m_headingOnly = false;
    bool m_toldHeadingOnly = false;

    std::atomic<std::uint64_t> m_rateSamples{0};
    std::atomic<double> m_rateFirst{0};
    std::atomic<double> m_rateLast{0};
    std::atomic<std::int16_t> m_lastRate{kAssumedRate};

    Counters m_counters;
    std::atomic<bool> m_quit{false};
    CEvent m_publishNow;
    std::thread m_publisher;
};

}  // namespace

std::unique_ptr<ISensorDevice> MakeTelegramDevice(const std::string& port, double gapMs) {
    return std::make_unique<CTelegramDevice>(port, gapMs);
}

}  // namespace mtobj
