// The GNSS receiver's port, read on a thread of its own: lines cut, RMC read, each fix put
// on the PC clock and kept for the sensor's reader.
#include <cstdio>

#include "comlane/SerialDevice.h"
#include "interfaces/Tickwise.h"
#include "mtobj/GroundVelocity.h"
#include "mtobj/TelegramSentences.h"

namespace mtobj {
namespace {

// Readings the reader has not taken yet, at most (the oldest go first): a few seconds at
// any receiver's rate, and far more than the reader leaves between its batches.
constexpr std::size_t kMostWaiting = 64;
constexpr DWORD kRetryMs = 2000;
constexpr int kReadableMs = 100;

}  // namespace

CGnssReceiver::CGnssReceiver(std::string port, long baud, double silentSeconds)
    : m_port(std::move(port)), m_baud(baud), m_silentSeconds(silentSeconds) {
    if (!m_port.empty()) {
        m_thread = std::thread([this] { Run(); });
    }
}

CGnssReceiver::~CGnssReceiver() {
    m_quit.Set();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CGnssReceiver::Take(std::vector<GroundReading>& into) {
    if (!m_any.load(std::memory_order_acquire)) {
        return;
    }
    std::lock_guard lock(m_mutex);
    into.insert(into.end(), m_readings.begin(), m_readings.end());
    m_readings.clear();
    m_any.store(false, std::memory_order_release);
}

std::string CGnssReceiver::Counters() const {
    std::lock_guard lock(m_mutex);
    std::string text = "lines read " + std::to_string(m_lines) + ", fixes " +
                       std::to_string(m_fixes) + ", dropped " + std::to_string(m_dropped);
    return m_lastWhy.empty() ? text : text + " (last: " + m_lastWhy + ")";
}

void CGnssReceiver::Run() {
    comlane::CSerialDevice serial;
    telegrams::CLineReader reader;
    CFixClock clock;
    std::string lastError;
    double lastFixMs = CTickwise::GetPCMilliSecs();
    bool told = false;  // that no fix came for m_silentSeconds
    const comlane::LineSettings line{static_cast<unsigned>(m_baud), 8, 0, 0};
    const double charMs = comlane::CharacterTime(line);
    while (!m_quit.Wait(0)) {
        if (!serial.IsOpen()) {
            std::string error;
            const bool opened = comlane::OpenNamedPort(m_port, serial, &error);
            if (!opened || !serial.SetLine(line)) {
                serial.Close();
                if (opened) {
                    error = "its line cannot be set to " + std::to_string(m_baud) + " baud";
                }
                if (error != lastError) {  // said once for each new reason
                    std::fprintf(stderr,
                                 "Tavimo: the GNSS receiver's port %s cannot be opened: %s\n",
                                 m_port.c_str(), error.c_str());
                    lastError = error;
                }
                m_quit.Wait(kRetryMs);
                continue;
            }
            lastError.clear();
            reader.Reset();
            clock.Reset();
            lastFixMs = CTickwise::GetPCMilliSecs();
        }
        if (!told && CTickwise::GetPCMilliSecs() - lastFixMs > m_silentSeconds * 1000.0) {
            // A wrong baud rate, or a receiver that sends no RMC, is named, not left silent.
            told = true;
            std::fprintf(stderr,
                         "Tavimo: no RMC fix from the GNSS receiver on %s for %.0f s (%s): check "
                         "its baud rate (%ld) and that it sends RMC\n",
                         m_port.c_str(), m_silentSeconds, Counters().c_str(), m_baud);
        }
        if (!serial.WaitReadable(kReadableMs)) {
            continue;
        }
        char block[512];
        const long n = serial.Read(block, sizeof block);
        const double now = CTickwise::GetPCMilliSecs();
        if (n < 0) {
            serial.Close();
            continue;
        }
        const auto count = static_cast<std::size_t>(n);
        reader.Feed(
            block, count,
            [&](const telegrams::CLineReader::Line& l) {
                const double arrival = l.StartMs(now, count, charMs) / 1000.0;
                std::string why;
                const std::optional<GroundFix> fix = ParseRmc(l.text, &why);
                std::lock_guard lock(m_mutex);
                ++m_lines;
                if (!fix) {
                    if (why != "not RMC") {  // a receiver sends many sentences; only RMC is read
                        ++m_dropped;
                        m_lastWhy = why;
                    }
                    return;
                }
                ++m_fixes;
                lastFixMs = now;
                if (told) {
                    told = false;
                    std::fprintf(stderr, "Tavimo: the GNSS receiver on %s sends fixes again\n",
                                 m_port.c_str());
                }
                if (m_readings.size() >= kMostWaiting) {
                    m_readings.erase(m_readings.begin());
                }
                m_readings.push_back({clock.Moment(fix->secondsOfDay, arrival), fix->speed,
                                      fix->course, fix->variation});
                m_any.store(true, std::memory_order_release);
            },
            [&](telegrams::EDrop reason, std::string_view) {
                std::lock_guard lock(m_mutex);
                ++m_lines;
                ++m_dropped;
                m_lastWhy = telegrams::DropName(reason);
            });
    }
}

}  // namespace mtobj
