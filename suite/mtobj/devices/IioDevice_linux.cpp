// Kernel IIO devices as a source of sensor records: the one place that touches sysfs and
// /dev/iio:*. Each named device is found by its `name` attribute or directory name, its
// scan elements enabled and read from sysfs, its buffer read from /dev, and the samples of
// up to three devices merged in time order.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <utility>

#include "interfaces/ErrorLog.h"
#include "interfaces/Tickwise.h"
#include "mtobj/IioScan.h"
#include "mtobj/RecordDevice.h"
#include "platform/Paths.h"

namespace mtobj {
namespace {

namespace fs = std::filesystem;
using iio::CScanDecoder;
using iio::ScanElement;
using iio::ScanValues;

// What sysfs may say and be believed: a scan element's place in the scan, and a sampling
// rate (Hz). A number beyond them is a broken or hostile attribute.
constexpr int kMaxScanIndex = 1023;
constexpr double kMaxRate = 100000;

std::string SysfsRoot() {
    const auto root = platform::EnvironmentValue("TAVIMO_IIO_SYSFS");
    return root && !root->empty() ? *root : "/sys/bus/iio/devices";
}
std::string DevRoot() {
    const auto root = platform::EnvironmentValue("TAVIMO_IIO_DEV");
    return root && !root->empty() ? *root : "/dev";
}

double PcSecondsNow() {
    return CTickwise::GetPCMilliSecs() / 1000.0;
}

// The first line of a sysfs attribute, at most a page of it (what sysfs gives at most);
// nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& path) {
    constexpr std::size_t kPage = 4096;
    std::ifstream in(path);
    std::string line(kPage, '\0');
    if (!in) {
        return std::nullopt;
    }
    if (!in.getline(line.data(), static_cast<std::streamsize>(kPage)) && in.gcount() == 0) {
        return std::nullopt;
    }
    line.resize(std::strlen(line.c_str()));
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

bool WriteAttribute(const fs::path& path, const std::string& value) {
    std::ofstream out(path);
    out << value << '\n';
    out.flush();
    return static_cast<bool>(out);
}

std::optional<double> ReadNumber(const fs::path& path) {
    const auto text = ReadAttribute(path);
    if (!text) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

// A whole number read from sysfs within [low, high]: anything else is no number, so a hostile
// or broken attribute never reaches a cast.
std::optional<int> ReadIndex(const fs::path& path, int low, int high) {
    const auto v = ReadNumber(path);
    if (!v || *v < low || *v > high || std::floor(*v) != *v) {
        return std::nullopt;
    }
    return static_cast<int>(*v);
}

// "in_accel_x" -> "in_accel"; "in_rot_quaternion" -> "in_rot"; "in_timestamp" stays.
std::string TypePrefix(const std::string& element) {
    const auto second = element.find('_', 3);
    return second == std::string::npos ? element : element.substr(0, second);
}

// The rates a device offers: a list ("12.5 25 50 100") or a range ("[min step max]").
std::vector<double> AvailableRates(const std::string& text) {
    std::vector<double> rates;
    std::string t = text;
    const bool range = !t.empty() && t.front() == '[';
    std::replace(t.begin(), t.end(), '[', ' ');
    std::replace(t.begin(), t.end(), ']', ' ');
    std::istringstream in(t);
    double v = 0;
    while (in >> v) {
        if (std::isfinite(v) && v > 0) {
            rates.push_back(v);
        }
    }
    if (range && rates.size() == 3) {
        return {rates[0], rates[2]};  // the nearest of a range is clamped into it below
    }
    return rates;
}

// One IIO device of the source: its attributes, its buffer and its decoded samples.
struct IioUnit {
    std::string wanted;  // the name asked for
    std::string name;    // its `name` attribute
    fs::path dir;        // /sys/bus/iio/devices/iio:deviceN
    fs::path dev;        // /dev/iio:deviceN
    CScanDecoder decoder;
    int fd = -1;
    std::vector<std::uint8_t> pending;  // bytes of a scan not yet whole
    std::deque<SensorRecord> queue;     // decoded, stamped, not yet merged
    double rate = 0;                    // samples a second, when the device says
    std::string clock;                  // its `current_timestamp_clock` ("" when it has none)
    bool timeBase = false;              // a time stamp of it was taken
    std::int64_t lastTimestamp = 0;
    double newest = -1;  // newest sample time (PC seconds)
    std::size_t garbled = 0;
};

class CIioSource final : public IRecordSource {
public:
    explicit CIioSource(const std::string& names) {
        std::string rest = names;
        while (!rest.empty()) {
            const auto plus = rest.find('+');
            IioUnit unit;
            unit.wanted = rest.substr(0, plus);
            m_units.push_back(std::move(unit));
            rest = plus == std::string::npos ? "" : rest.substr(plus + 1);
        }
        m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        m_log.SetModuleName("Tavimo");
        m_log.SetObjectName("IioDevice");
        m_log.EnableTrace(true);
    }
    ~CIioSource() override {
        CloseBuffers();
        if (m_wake >= 0) {
            ::close(m_wake);
        }
    }

    bool Open(std::string* reason) override {
        std::lock_guard lock(m_mutex);
        if (m_units.empty() || m_units.size() > 3) {
            return Fail(reason, "name one to three IIO devices (iio:NAME[+NAME[+NAME]])");
        }
        for (auto& unit : m_units) {
            if (unit.wanted.empty()) {
                return Fail(reason, "an empty IIO device name");
            }
            if (!Find(unit, reason) || !ReadLayout(unit, reason, false)) {
                return false;
            }
        }
        return CheckTogether(reason);
    }
    void Close() override {
        std::lock_guard lock(m_mutex);
        CloseBuffers();
    }
    std::string Id() const override {
        std::lock_guard lock(m_mutex);
        std::string id;
        for (const auto& unit : m_units) {
            id += (id.empty() ? "" : "+") + (unit.name.empty() ? unit.wanted : unit.name);
        }
        return id;
    }
    bool Fused() const override {
        std::lock_guard lock(m_mutex);
        return m_units.size() == 1 && m_units.front().decoder.HasQuaternion();
    }
    bool Start(int rateHz, std::string* reason) override {
        std::lock_guard lock(m_mutex);
        CloseBuffers();
        std::uint64_t drain = 0;
        while (::read(m_wake, &drain, sizeof drain) > 0) {
        }
        for (auto& unit : m_units) {
            // Found again: a device that was unplugged comes back under a new number.
            if (!Find(unit, reason) || !SetRate(unit, rateHz) || !Enable(unit, reason) ||
                !ReadLayout(unit, reason, true) || !OpenBuffer(unit, reason)) {
                CloseBuffers();
                return false;
            }
        }
        if (!CheckTogether(reason)) {
            CloseBuffers();
            return false;
        }
        m_vanished = false;
        return true;
    }
    void Stop() override {
        std::lock_guard lock(m_mutex);
        CloseBuffers();
    }
    bool Read(std::vector<SensorRecord>& records, DWORD timeoutMs) override {
        std::lock_guard lock(m_mutex);
        std::vector<pollfd> fds;
        fds.push_back({m_wake, POLLIN, 0});
        for (const auto& unit : m_units) {
            if (unit.fd < 0) {
                // Stopped, or vanished: wait for the interrupt or the time-out only.
                fds.resize(1);
                break;
            }
            fds.push_back({unit.fd, POLLIN, 0});
        }
        const int n = ::poll(fds.data(), fds.size(), static_cast<int>(timeoutMs));
        if (n <= 0) {
            return false;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t drain = 0;
            while (::read(m_wake, &drain, sizeof drain) > 0) {
            }
            return false;
        }
        const double arrival = PcSecondsNow();
        IioUnit* gone = nullptr;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0 && !Drain(m_units[i - 1], arrival)) {
                gone = &m_units[i - 1];
            }
        }
        // What came before a device went is still delivered.
        const bool any = Merge(records);
        if (gone != nullptr) {
            Vanished(*gone);
        }
        return any;
    }
    void Interrupt() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_wake, &one, sizeof one);
    }

private:
    bool Fail(std::string* reason, const std::string& text) {
        if (reason != nullptr) {
            *reason = text;
        }
        return false;
    }

    // Finds the device directory whose name or `name` attribute is the one wanted.
    bool Find(IioUnit& unit, std::string* reason) {
        const fs::path root = SysfsRoot();
        std::error_code ec;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root, ec)) {
            const std::string dir = entry.path().filename().string();
            if (dir.rfind("iio:device", 0) != 0) {
                continue;
            }
            const std::string name = ReadAttribute(entry.path() / "name").value_or("");
            // The name goes into messages and registry keys: bounded and escaped.
            const std::string safe = SafeDeviceId(name.empty() ? dir : name);
            names.push_back(safe);
            if (dir == unit.wanted || name == unit.wanted) {
                unit.dir = entry.path();
                unit.name = safe;
                unit.dev = fs::path(DevRoot()) / dir;
                return true;
            }
        }
        if (ec) {
            return Fail(reason, "no IIO devices: " + root.string() + ": " + ec.message());
        }
        std::string known;
        for (const auto& n : names) {
            known += (known.empty() ? "" : ", ") + n;
        }
        return Fail(reason, "no IIO device named '" + unit.wanted + "' under " + root.string() +
                                " (there are: " + (known.empty() ? "none" : known) + ")");
    }

    // Reads the scan elements, their scales and offsets and the mount matrices: those that
    // are enabled, or (before the start enables them) those that would be.
    bool ReadLayout(IioUnit& unit, std::string* reason, bool enabled) {
        const fs::path scan = unit.dir / "scan_elements";
        std::error_code ec;
        std::vector<ScanElement> elements;
        for (const auto& entry : fs::directory_iterator(scan, ec)) {
            const std::string file = entry.path().filename().string();
            if (file.size() < 4 || file.compare(file.size() - 3, 3, "_en") != 0) {
                continue;
            }
            ScanElement e;
            e.name = file.substr(0, file.size() - 3);
            if (enabled ? ReadAttribute(entry.path()).value_or("0") != "1"
                        : iio::ChannelOf(e.name) == iio::Channel::Unused) {
                continue;
            }
            const auto index = ReadIndex(scan / (e.name + "_index"), 0, kMaxScanIndex);
            const auto typeText = ReadAttribute(scan / (e.name + "_type"));
            std::string why;
            const auto type = typeText ? iio::ParseScanType(*typeText, &why) : std::nullopt;
            if (!index || !type) {
                return Fail(reason,
                            unit.name + ": scan element " + e.name + ": " +
                                (index ? (typeText ? why : "no _type")
                                       : "no _index of 0 to " + std::to_string(kMaxScanIndex)));
            }
            e.index = *index;
            e.type = *type;
            if (iio::ChannelOf(e.name) != iio::Channel::Timestamp &&
                iio::ChannelOf(e.name) != iio::Channel::Unused) {
                const std::string prefix = TypePrefix(e.name);
                const auto scale = Attribute(unit, e.name, prefix, "_scale");
                if (!scale) {
                    return Fail(reason, unit.name + ": the scale of " + e.name +
                                            " cannot be read (" + e.name + "_scale or " + prefix +
                                            "_scale)");
                }
                e.scale = *scale;
                e.offset = Attribute(unit, e.name, prefix, "_offset").value_or(0.0);
            }
            elements.push_back(std::move(e));
        }
        if (ec) {
            return Fail(reason, unit.name + ": " + scan.string() + ": " + ec.message());
        }
        std::string why;
        if (!unit.decoder.Init(std::move(elements), &why)) {
            return Fail(reason, unit.name + ": " + why);
        }
        iio::Matrix3 mounts[4];
        const char* prefixes[4] = {"in_accel", "in_anglvel", "in_magn", "in_rot"};
        for (int i = 0; i < 4; ++i) {
            auto text = ReadAttribute(unit.dir / (std::string(prefixes[i]) + "_mount_matrix"));
            if (!text) {
                text = ReadAttribute(unit.dir / "in_mount_matrix");
            }
            if (!text) {
                text = ReadAttribute(unit.dir / "mount_matrix");
            }
            mounts[i] = iio::kIdentity;
            if (text) {
                const auto m = iio::ParseMountMatrix(*text, &why);
                if (!m) {
                    return Fail(reason, unit.name + ": " + why);
                }
                mounts[i] = *m;
            }
        }
        unit.decoder.SetMountMatrices(mounts[0], mounts[1], mounts[2], mounts[3]);
        return true;
    }

    // A channel's own attribute, else the one its type shares.
    static std::optional<double> Attribute(const IioUnit& unit, const std::string& element,
                                           const std::string& prefix, const char* suffix) {
        if (auto v = ReadNumber(unit.dir / (element + suffix))) {
            return v;
        }
        return ReadNumber(unit.dir / (prefix + suffix));
    }

    // Devices read together must say when their samples were taken, else they cannot be
    // merged in time order; one orientation device stands alone.
    bool CheckTogether(std::string* reason) {
        if (m_units.size() == 1) {
            return true;
        }
        for (const auto& unit : m_units) {
            if (unit.decoder.HasQuaternion()) {
                return Fail(reason, unit.name + " delivers an orientation: it stands alone");
            }
            if (!unit.decoder.HasTimestamp()) {
                return Fail(reason, unit.name +
                                        " has no in_timestamp channel: devices read together "
                                        "are merged by their time stamps");
            }
        }
        return true;
    }

    // Sets the sampling frequency nearest the rate asked for (where the device has one).
    bool SetRate(IioUnit& unit, int rateHz) {
        fs::path file = unit.dir / "sampling_frequency";
        std::error_code ec;
        if (!fs::exists(file, ec)) {
            for (const char* prefix : {"in_accel", "in_anglvel", "in_magn", "in_rot"}) {
                if (fs::exists(unit.dir / (std::string(prefix) + "_sampling_frequency"), ec)) {
                    file = unit.dir / (std::string(prefix) + "_sampling_frequency");
                    break;
                }
            }
        }
        if (!fs::exists(file, ec)) {
            unit.rate = 0;
            return true;
        }
        auto available = AvailableRates(
            ReadAttribute(file.parent_path() / (file.filename().string() + "_available"))
                .value_or(""));
        double target = rateHz;
        if (available.size() == 2 &&
            ReadAttribute(file.parent_path() / (file.filename().string() + "_available"))
                    .value_or("")
                    .front() == '[') {
            target = std::clamp<double>(rateHz, available[0], available[1]);
        } else if (!available.empty()) {
            target = *std::min_element(available.begin(), available.end(), [&](double a, double b) {
                return std::fabs(a - rateHz) < std::fabs(b - rateHz);
            });
        }
        char text[32];
        std::snprintf(text, sizeof text, "%g", target);
        if (!WriteAttribute(file, text)) {
            m_log.TraceNow("Start", "%s: sampling_frequency cannot be set to %s (%s)",
                           unit.name.c_str(), text, std::strerror(errno));
        }
        unit.rate = target;
        if (const auto read = ReadNumber(file); read && *read > 0 && *read <= kMaxRate) {
            unit.rate = *read;
        }
        m_log.TraceNow("Start", "%s samples at %g Hz (asked %d Hz)", unit.name.c_str(), unit.rate,
                       rateHz);
        return true;
    }

    // Enables the channels the filter uses and the buffer. Where sysfs cannot be written (no
    // permission), whatever is already enabled is read back and used if it will do.
    bool Enable(IioUnit& unit, std::string* reason) {
        const fs::path scan = unit.dir / "scan_elements";
        WriteAttribute(unit.dir / "buffer" / "enable", "0");
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(scan, ec)) {
            const std::string file = entry.path().filename().string();
            if (file.size() < 4 || file.compare(file.size() - 3, 3, "_en") != 0) {
                continue;
            }
            const bool wanted =
                iio::ChannelOf(file.substr(0, file.size() - 3)) != iio::Channel::Unused;
            WriteAttribute(entry.path(), wanted ? "1" : "0");
        }
        if (ec) {
            return Fail(reason, unit.name + ": " + scan.string() + ": " + ec.message());
        }
        WriteAttribute(unit.dir / "buffer" / "length", "256");
        if (!WriteAttribute(unit.dir / "buffer" / "enable", "1") &&
            ReadAttribute(unit.dir / "buffer" / "enable").value_or("0") != "1") {
            return Fail(reason, unit.name + ": its buffer cannot be enabled (" +
                                    (unit.dir / "buffer" / "enable").string() + ": " +
                                    std::strerror(errno) +
                                    "); see the README on permissions for IIO devices");
        }
        return true;
    }

    bool OpenBuffer(IioUnit& unit, std::string* reason) {
        unit.fd = ::open(unit.dev.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (unit.fd < 0) {
            const int e = errno;
            std::string text = unit.name + ": " + unit.dev.string() + ": " + std::strerror(e);
            if (e == EACCES || e == EPERM) {
                text +=
                    " (the user needs read access: add it to the group that owns the "
                    "device, e.g. iio, or install the udev rule of the README)";
            } else if (e == EBUSY) {
                text += " (another program reads this device)";
            }
            return Fail(reason, text);
        }
        unit.pending.clear();
        unit.queue.clear();
        unit.clock = ReadAttribute(unit.dir / "current_timestamp_clock").value_or("");
        m_clocks.erase(unit.clock);
        m_released = -INFINITY;
        unit.timeBase = false;
        unit.lastTimestamp = 0;
        unit.newest = -1;
        unit.garbled = 0;
        return true;
    }

    void CloseBuffers() {
        for (auto& unit : m_units) {
            if (unit.fd >= 0) {
                ::close(unit.fd);
                unit.fd = -1;
                WriteAttribute(unit.dir / "buffer" / "enable", "0");
            }
            unit.queue.clear();
            unit.pending.clear();
        }
    }

    // Reads what the device has and decodes its whole scans; false when it has gone (the
    // scans read before are decoded all the same).
    bool Drain(IioUnit& unit, double arrival) {
        std::uint8_t buffer[4096];
        bool gone = false;
        for (int round = 0; round < 64; ++round) {
            const ssize_t n = ::read(unit.fd, buffer, sizeof buffer);
            if (n > 0) {
                unit.pending.insert(unit.pending.end(), buffer, buffer + n);
                if (static_cast<std::size_t>(n) < sizeof buffer) {
                    break;
                }
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                break;
            }
            // End of file (a buffer whose writer left) or an error (ENODEV: unplugged).
            m_vanishReason = n == 0 ? "its buffer ended" : std::strerror(errno);
            gone = true;
            break;
        }
        const std::size_t size = unit.decoder.ScanBytes();
        const std::size_t scans = unit.pending.size() / size;
        const double period = unit.rate > 0 ? 1.0 / unit.rate : 0.0;
        std::vector<ScanValues>& batch = m_batch;
        batch.clear();
        for (std::size_t i = 0; i < scans; ++i) {
            ScanValues v;
            std::string why;
            if (!unit.decoder.Decode(unit.pending.data() + i * size, size, v, &why)) {
                Garbled(unit, why);
                continue;
            }
            if (v.hasTimestamp) {
                const std::int64_t last =
                    batch.empty() ? unit.lastTimestamp : batch.back().timestampNs;
                if ((unit.timeBase || !batch.empty()) && v.timestampNs <= last) {
                    Garbled(unit, "its time stamp went back");
                    continue;
                }
            }
            batch.push_back(v);
        }
        // The kernel stamps every device from the clock its `current_timestamp_clock` names:
        // devices on one clock (the parts of one chip) share one mapping onto the PC clock,
        // so readings of one moment keep one time whichever device's scan came first.
        ClockMapping& mapping = m_clocks[unit.clock];
        if (!batch.empty() && batch.back().hasTimestamp) {
            // The device clock maps onto the PC clock by the smallest delay seen, taken from
            // the newest scan of a read (a burst of scans arrives at once, each with its own
            // time); a larger delay is followed slowly, so a drift between the clocks is too.
            const double offset = arrival - static_cast<double>(batch.back().timestampNs) * 1e-9;
            if (!mapping.known || offset < mapping.offset ||
                std::fabs(offset - mapping.offset) > 5.0) {
                mapping.offset = offset;
            } else {
                mapping.offset += (offset - mapping.offset) * 1e-3;
            }
            mapping.known = true;
            unit.timeBase = true;
            unit.lastTimestamp = batch.back().timestampNs;
        }
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const ScanValues& v = batch[i];
            SensorRecord r;
            if (v.hasTimestamp) {
                r.seconds = static_cast<double>(v.timestampNs) * 1e-9 + mapping.offset;
            } else {
                // As bytes read from a serial line: the last scan came now, each earlier one
                // a sample period before it.
                r.seconds = arrival - static_cast<double>(batch.size() - 1 - i) * period;
            }
            r.seconds = std::max(r.seconds, unit.newest);
            r.hasAccel = v.hasAccel;
            r.hasGyro = v.hasGyro;
            r.hasMag = v.hasMag;
            r.hasQuaternion = v.hasQuaternion;
            r.accel = v.accel;
            r.gyro = v.gyro;
            r.mag = v.mag;
            r.quaternion = v.quaternion;
            unit.newest = r.seconds;
            unit.queue.push_back(r);
        }
        unit.pending.erase(unit.pending.begin(),
                           unit.pending.begin() + static_cast<std::ptrdiff_t>(scans * size));
        if (gone && !unit.pending.empty()) {
            m_log.TraceNow("Read", "%s: short scan of %zu bytes at its end (%zu expected)",
                           unit.name.c_str(), unit.pending.size(), size);
        }
        return !gone;
    }

    void Garbled(IioUnit& unit, const std::string& why) {
        // The first few, then one in a thousand: a garbled stream must not flood the trace.
        if (unit.garbled < 5 || unit.garbled % 1000 == 0) {
            m_log.TraceNow("Read", "%s: scan dropped: %s", unit.name.c_str(), why.c_str());
        }
        ++unit.garbled;
    }

    void Vanished(IioUnit& unit) {
        m_log.TraceNow("Read", "the IIO device %s vanished (%s); waiting for a reconnect",
                       unit.name.c_str(), m_vanishReason.c_str());
        if (!m_vanished) {
            std::fprintf(stderr, "Tavimo: the IIO device %s vanished (%s)\n", unit.name.c_str(),
                         m_vanishReason.c_str());
        }
        m_vanished = true;
        CloseBuffers();
    }

    // Hands over the queued samples in time order: with several devices, only up to the
    // newest time all of them have reached, so a later sample of one device never goes out
    // before an earlier one of another; a device that fell silent holds the others back by
    // at most kMergeHold.
    bool Merge(std::vector<SensorRecord>& records) {
        constexpr double kMergeHold = 0.25;
        // Readings this close are of one moment (far below a sample period at 512 Hz).
        constexpr double kSameMoment = 100e-6;
        double horizon = INFINITY;
        double newest = -INFINITY;
        for (const auto& unit : m_units) {
            horizon = std::min(horizon, unit.newest);
            newest = std::max(newest, unit.newest);
        }
        if (m_units.size() > 1) {
            horizon = std::max(horizon, newest - kMergeHold);
        } else {
            horizon = newest;
        }
        const std::size_t before = records.size();
        for (;;) {
            IioUnit* next = nullptr;
            for (auto& unit : m_units) {
                if (unit.queue.empty() || unit.queue.front().seconds > horizon + kSameMoment) {
                    continue;
                }
                // Of readings of one moment the gyroscope's goes first: the attitude is
                // turned to that moment before the accelerometer and magnetometer are
                // compared with it. (Their mapped times may differ by the few microseconds
                // the clock mapping moved between two reads.)
                const SensorRecord& r = unit.queue.front();
                const double other = next == nullptr ? INFINITY : next->queue.front().seconds;
                const bool sameMoment = std::fabs(r.seconds - other) <= kSameMoment;
                if (sameMoment ? r.hasGyro && !next->queue.front().hasGyro : r.seconds < other) {
                    next = &unit;
                }
            }
            if (next == nullptr) {
                break;
            }
            SensorRecord& r = records.emplace_back(next->queue.front());
            // Times never go back: a reading put after the gyroscope's of its moment takes
            // that time if its own was a trace earlier.
            r.seconds = std::max(r.seconds, m_released);
            m_released = r.seconds;
            next->queue.pop_front();
        }
        return records.size() > before;
    }

    // A clock's mapping onto the PC clock: PC seconds minus device seconds.
    struct ClockMapping {
        bool known = false;
        double offset = 0;
    };

    mutable std::mutex m_mutex;
    std::vector<IioUnit> m_units;
    std::map<std::string, ClockMapping> m_clocks;  // by `current_timestamp_clock`
    double m_released = -INFINITY;                 // the time of the newest record merged
    std::vector<ScanValues> m_batch;               // the scans of one read, reused
    int m_wake = -1;
    bool m_vanished = false;
    std::string m_vanishReason;
    CErrorLog m_log;
};

}  // namespace

std::unique_ptr<IRecordSource> MakeIioSource(const std::string& names) {
    return std::make_unique<CIioSource>(names);
}

}  // namespace mtobj
