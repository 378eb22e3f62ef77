#include "interfaces/Telegrax.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "ByteStuffing.h"
#include "PortSettings.h"
#include "comlane/NetworkPort.h"
#include "comlane/SerialDevice.h"
#include "interfaces/ErrorLog.h"

using telegrax::EFraming;

namespace {
// How often the receiver looks for a stop request between bytes: bounds how long handing
// a receiving port back takes.
constexpr int kReceivePollMs = 25;
}  // namespace

struct CTelegrax::Impl {
    explicit Impl(const std::string& portName) : name(portName) {
        log.SetModuleName("Telegrax");
        log.SetObjectName(("CTelegrax " + portName).c_str());
        log.EnableTrace(false);
    }

    // How long a telegram may wait for room on the line before the rest is given up:
    // the time of the bytes themselves, twice over, and a little more.
    int WriteTimeoutMs(std::size_t bytes) const {
        double charMs = 0.0;
        {
            std::lock_guard lock(settingsMutex);
            charMs = comlane::CharacterTime(line);
        }
        return 10 + static_cast<int>(2.0 * charMs * static_cast<double>(bytes));
    }

    void Receive(CEvent& event);

    const std::string name;
    comlane::CSerialDevice device;
    CErrorLog log;

    mutable std::mutex settingsMutex;  // line and protocol, between the caller and the receiver
    comlane::LineSettings line;
    telegrax::Protocol protocol;
    std::atomic<int> transmit{static_cast<int>(EFraming::Ascii)};

    std::atomic<bool> failed{false};
    std::atomic<unsigned long> sent{0};
    std::atomic<unsigned long> dropped{0};

    // A port mapped to a network endpoint sends through this instead of the device; it is
    // made after the log (which it traces to) and goes before it.
    std::unique_ptr<comlane::CNetworkPort> network;
    comlane::CPortNameLock networkOwner;  // one owner of a network port name at a time

    std::thread receiver;
    std::atomic<bool> stopReceiving{false};
    mutable std::mutex waitingMutex;
    std::deque<std::string> waiting;
    unsigned long receiveDropped = 0;
};

void CTelegrax::Impl::Receive(CEvent& event) {
    telegrax::CByteStuffedDecoder frames(kMaxReceivedTelegram);
    telegrax::CLineDecoder lines(kMaxReceivedTelegram);
    unsigned long lastDecoderDrops = 0;
    const auto deliver = [&](std::string&& telegram) {
        std::lock_guard lock(waitingMutex);
        if (waiting.size() >= kMaxWaitingTelegrams) {
            ++receiveDropped;
            return;
        }
        waiting.push_back(std::move(telegram));
        event.Set();
    };
    char buffer[4096];
    while (!stopReceiving.load()) {
        if (!device.WaitReadable(kReceivePollMs)) {
            continue;
        }
        const long n = device.Read(buffer, sizeof(buffer));
        if (n < 0) {
            failed = true;
            log.TraceNow("Receive", "the line has gone: %s", std::strerror(errno));
            return;
        }
        EFraming framing;
        {
            std::lock_guard lock(settingsMutex);
            framing = protocol.receive;
        }
        if (framing == EFraming::ByteStuffed) {
            frames.Feed(buffer, static_cast<std::size_t>(n), deliver);
        } else {
            lines.Feed(buffer, static_cast<std::size_t>(n), deliver);
        }
        const unsigned long decoderDrops = frames.Dropped() + lines.Dropped();
        if (decoderDrops != lastDecoderDrops) {
            std::lock_guard lock(waitingMutex);
            receiveDropped += decoderDrops - lastDecoderDrops;
            lastDecoderDrops = decoderDrops;
        }
    }
}

CTelegrax::CTelegrax(const std::string& name) : m_pImpl(std::make_unique<Impl>(name)) {
    m_hReceiveEvent = &m_receiveEvent;
}

CTelegrax::~CTelegrax() {
    StopReceiving();
    m_pImpl->network.reset();
    m_pImpl->device.Close();
}

bool CTelegrax::Open(std::string* error) {
    std::string reason;
    const std::string& name = m_pImpl->name;
    if (const std::string target =
            name.empty() || name[0] == '/' ? std::string() : comlane::CPortMap::Lookup(name);
        comlane::IsNetworkTarget(target)) {
        // A network port opens at once; its socket is made (and made again after a failure)
        // in the background, so a network that is not there yet stops nothing.
        const auto parsed = comlane::ParseNetworkTarget(target, &reason);
        if (!parsed || !m_pImpl->networkOwner.Acquire(name, &reason)) {
            m_pImpl->log.TraceNow("Open", "%s", reason.c_str());
            if (error != nullptr) {
                *error = reason;
            }
            return false;
        }
        Impl* impl = m_pImpl.get();
        m_pImpl->network = comlane::CNetworkPort::Create(*parsed, [impl](const std::string& text) {
            impl->log.TraceNow("Network", "%s", text.c_str());
        });
        return true;
    }
    if (!comlane::OpenNamedPort(m_pImpl->name, m_pImpl->device, &reason)) {
        m_pImpl->log.TraceNow("Open", "%s", reason.c_str());
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    }
    std::lock_guard lock(m_pImpl->settingsMutex);
    m_pImpl->device.GetLine(m_pImpl->line);
    return true;
}

std::string CTelegrax::GetPortName() const {
    return m_pImpl->name;
}

BOOL CTelegrax::IsOpen() const {
    if (m_pImpl->network) {
        return TRUE;  // a network port recovers by itself
    }
    return m_pImpl->device.IsOpen() && !m_pImpl->failed.load() ? TRUE : FALSE;
}

std::string CTelegrax::GetConfiguration() const {
    std::lock_guard lock(m_pImpl->settingsMutex);
    return telegrax::FormatConfiguration(m_pImpl->line);
}

BOOL CTelegrax::Configure(std::string configuration) {
    const auto line = telegrax::ParseConfiguration(configuration);
    if (!line) {
        m_pImpl->log.TraceNow("Configure", "\"%s\" does not parse; the line keeps %s",
                              configuration.c_str(), GetConfiguration().c_str());
        return FALSE;
    }
    // Baud rate and line settings mean nothing to a network port: kept, not applied.
    if (!m_pImpl->network && !m_pImpl->device.SetLine(*line)) {
        m_pImpl->log.TraceNow("Configure", "the device refuses \"%s\": %s", configuration.c_str(),
                              std::strerror(errno));
        return FALSE;
    }
    std::lock_guard lock(m_pImpl->settingsMutex);
    m_pImpl->line = *line;
    return TRUE;
}

std::string CTelegrax::GetProtocol() const {
    std::lock_guard lock(m_pImpl->settingsMutex);
    return telegrax::FormatProtocol(m_pImpl->protocol);
}

BOOL CTelegrax::SetProtocol(std::string protocol) {
    std::lock_guard lock(m_pImpl->settingsMutex);
    const auto parsed = telegrax::ParseProtocol(protocol, m_pImpl->protocol);
    if (!parsed) {
        m_pImpl->log.TraceNow("SetProtocol", "\"%s\" does not parse; the port keeps %s",
                              protocol.c_str(),
                              telegrax::FormatProtocol(m_pImpl->protocol).c_str());
        return FALSE;
    }
    m_pImpl->protocol = *parsed;
    m_pImpl->transmit = static_cast<int>(parsed->transmit);
    return TRUE;
}

std::string CTelegrax::GetDevicePath() const {
    if (m_pImpl->network) {
        return m_pImpl->network->Describe();
    }
    return m_pImpl->device.Path();
}
unsigned long CTelegrax::GetDroppedCount() const {
    if (m_pImpl->network) {
        const comlane::NetworkPortCounters counters = m_pImpl->network->Counters();
        return counters.dropped + counters.clientDrops;
    }
    return m_pImpl->dropped.load();
}

CTelegrax::NetworkCounters CTelegrax::GetNetworkCounters() const {
    NetworkCounters result;
    if (m_pImpl->network) {
        const comlane::NetworkPortCounters counters = m_pImpl->network->Counters();
        result.network = true;
        result.ready = m_pImpl->network->IsReady();
        result.clients = counters.clients;
        result.clientDrops = counters.clientDrops;
        result.refused = counters.refused;
        result.disconnected = counters.disconnected;
    }
    return result;
}

bool CTelegrax::WaitNetworkReady(int timeoutMs) const {
    return m_pImpl->network && m_pImpl->network->WaitReady(timeoutMs);
}
unsigned long CTelegrax::GetSentCount() const {
    return m_pImpl->sent.load();
}

unsigned long CTelegrax::GetReceiveDroppedCount() const {
    std::lock_guard lock(m_pImpl->waitingMutex);
    return m_pImpl->receiveDropped;
}

BOOL CTelegrax::SendTelegram(CTelegram* telegram, int) {
    Impl& d = *m_pImpl;
    if (telegram == nullptr || (!d.network && (!d.device.IsOpen() || d.failed.load()))) {
        return FALSE;
    }
    const std::string* bytes = &telegram->m_sText;
    // The frame is built in a buffer kept by the sending thread, so a send allocates
    // nothing once the buffer has grown to the telegrams that thread sends.
    thread_local std::string framed;
    if (d.transmit.load() == static_cast<int>(EFraming::ByteStuffed)) {
        framed.clear();
        telegrax::StuffFrame(telegram->m_sText, framed);
        bytes = &framed;
    }
    if (d.network) {
        // One datagram, or one write to each TCP client, never waiting: a network that
        // cannot take it now loses it (counted by the network port).
        if (!d.network->Send(bytes->data(), bytes->size())) {
            return FALSE;
        }
        d.sent.fetch_add(1);
        return TRUE;
    }
    // A virtual port with nobody attached keeps nothing: a reader that attaches later gets
    // telegrams formed from then on, never old ones. The telegram counts as sent, as on a
    // serial line with nothing plugged in.
    if (d.device.IsPseudoTerminal() && !d.device.HasReader()) {
        d.sent.fetch_add(1);
        return TRUE;
    }
    // A line that still holds more than one cycle is behind: the new telegram is dropped,
    // so what goes out is always fresh.
    if (d.device.OutputQueued() > kOutputCycleBytes) {
        if (d.dropped.fetch_add(1) % 1000 == 0) {
            d.log.TraceNow("SendTelegram", "the line is behind; %lu telegrams dropped so far",
                           d.dropped.load());
        }
        return FALSE;
    }
    std::size_t done = 0;
    while (done < bytes->size()) {
        const long n = d.device.Write(bytes->data() + done, bytes->size() - done);
        if (n < 0) {
            d.failed = true;
            d.dropped.fetch_add(1);
            d.log.TraceNow("SendTelegram", "the line has gone: %s", std::strerror(errno));
            return FALSE;
        }
        done += static_cast<std::size_t>(n);
        if (done < bytes->size() && !d.device.WaitWritable(d.WriteTimeoutMs(bytes->size()))) {
            d.dropped.fetch_add(1);
            d.log.TraceNow("SendTelegram", "the line took %zu of %zu bytes", done, bytes->size());
            return FALSE;
        }
    }
    d.sent.fetch_add(1);
    return TRUE;
}

BOOL CTelegrax::IsReceiving() const {
    return m_pImpl->receiver.joinable() ? TRUE : FALSE;
}

BOOL CTelegrax::StartReceiving() {
    if (m_pImpl->network) {
        m_pImpl->log.TraceNow("StartReceiving", "a network port only sends");
        return FALSE;
    }
    if (!m_pImpl->device.IsOpen() || m_pImpl->receiver.joinable()) {
        return FALSE;
    }
    m_pImpl->stopReceiving = false;
    m_pImpl->receiver = std::thread(&Impl::Receive, m_pImpl.get(), std::ref(m_receiveEvent));
    return TRUE;
}

BOOL CTelegrax::StopReceiving() {
    if (!m_pImpl->receiver.joinable()) {
        return FALSE;
    }
    m_pImpl->stopReceiving = true;
    m_pImpl->receiver.join();
    return TRUE;
}

BOOL CTelegrax::ReceiveTelegram(CTelegram* telegram, int) {
    if (telegram == nullptr) {
        return FALSE;
    }
    std::lock_guard lock(m_pImpl->waitingMutex);
    if (m_pImpl->waiting.empty()) {
        m_receiveEvent.Reset();
        return FALSE;
    }
    telegram->m_sText = std::move(m_pImpl->waiting.front());
    m_pImpl->waiting.pop_front();
    if (m_pImpl->waiting.empty()) {
        m_receiveEvent.Reset();
    }
    return TRUE;
}
