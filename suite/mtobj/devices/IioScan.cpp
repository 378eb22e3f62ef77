// The IIO scan layout and decoder: texts and bytes in, calibrated values out, no system calls.
#include "mtobj/IioScan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <set>
#include <utility>

#include "filter/AttitudeFilter.h"

namespace mtobj::iio {
namespace {

void Say(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

// Reads an unsigned number at the front of `text` and drops it from there.
bool TakeNumber(std::string_view& text, unsigned& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data()) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool TakePrefix(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.remove_suffix(1);
    }
    return text;
}

std::array<double, 3> Rotate(const Matrix3& m, const std::array<double, 3>& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

// A quaternion whose length departs further than this from one is not a rotation: the scan
// was garbled or the scale is wrong.
constexpr double kQuaternionTolerance = 0.05;

}  // namespace

std::optional<ScanType> ParseScanType(std::string_view text, std::string* reason) {
    const std::string shown(Trim(text).substr(0, 40));
    text = Trim(text);
    ScanType type;
    if (TakePrefix(text, "be:")) {
        type.bigEndian = true;
    } else if (!TakePrefix(text, "le:")) {
        Say(reason, "'" + shown + "' is not a scan element type (le: or be: expected)");
        return std::nullopt;
    }
    if (TakePrefix(text, "s") || TakePrefix(text, "S")) {
        type.isSigned = true;
    } else if (TakePrefix(text, "u") || TakePrefix(text, "U")) {
        type.isSigned = false;
    } else {
        Say(reason, "'" + shown + "' has no sign (s or u)");
        return std::nullopt;
    }
    if (!TakeNumber(text, type.realBits) || !TakePrefix(text, "/") ||
        !TakeNumber(text, type.storageBits)) {
        Say(reason, "'" + shown + "' has no bits/storage");
        return std::nullopt;
    }
    if (TakePrefix(text, "X") && !TakeNumber(text, type.repeat)) {
        Say(reason, "'" + shown + "' has no repeat count after X");
        return std::nullopt;
    }
    if (!TakePrefix(text, ">>") || !TakeNumber(text, type.shift) || !text.empty()) {
        Say(reason, "'" + shown + "' has no >>shift at its end");
        return std::nullopt;
    }
    if (type.storageBits != 8 && type.storageBits != 16 && type.storageBits != 32 &&
        type.storageBits != 64) {
        Say(reason, "'" + shown + "': storage of " + std::to_string(type.storageBits) +
                        " bits is not 8, 16, 32 or 64");
        return std::nullopt;
    }
    if (type.realBits == 0 || type.realBits > type.storageBits || type.shift >= type.storageBits ||
        type.shift + type.realBits > type.storageBits) {
        Say(reason, "'" + shown + "': the value does not fit its storage");
        return std::nullopt;
    }
    if (type.repeat == 0 || type.repeat > 16) {
        Say(reason, "'" + shown + "': repeat count out of range");
        return std::nullopt;
    }
    return type;
}

Channel ChannelOf(std::string_view name) {
    static constexpr std::pair<std::string_view, Channel> kNames[] = {
        {"in_accel_x", Channel::AccelX},      {"in_accel_y", Channel::AccelY},
        {"in_accel_z", Channel::AccelZ},      {"in_anglvel_x", Channel::GyroX},
        {"in_anglvel_y", Channel::GyroY},     {"in_anglvel_z", Channel::GyroZ},
        {"in_magn_x", Channel::MagX},         {"in_magn_y", Channel::MagY},
        {"in_magn_z", Channel::MagZ},         {"in_rot_quaternion", Channel::Quaternion},
        {"in_timestamp", Channel::Timestamp},
    };
    for (const auto& [text, channel] : kNames) {
        if (name == text) {
            return channel;
        }
    }
    return Channel::Unused;
}

std::optional<Matrix3> ParseMountMatrix(std::string_view text, std::string* reason) {
    Matrix3 m{};
    std::size_t count = 0;
    std::string_view rest = Trim(text);
    while (!rest.empty() && count < 9) {
        const std::size_t end = rest.find_first_of(",;");
        const std::string item(Trim(rest.substr(0, end)));
        char* stop = nullptr;
        m[count] = std::strtod(item.c_str(), &stop);
        if (item.empty() || stop != item.c_str() + item.size() || !std::isfinite(m[count])) {
            Say(reason, "mount matrix '" + std::string(Trim(text)).substr(0, 80) +
                            "' has an item that is not a number");
            return std::nullopt;
        }
        ++count;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    if (count != 9 || !Trim(rest).empty()) {
        Say(reason, "mount matrix '" + std::string(Trim(text)).substr(0, 80) +
                        "' does not have three rows of three");
        return std::nullopt;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            const double dot =
                m[3 * i] * m[3 * j] + m[3 * i + 1] * m[3 * j + 1] + m[3 * i + 2] * m[3 * j + 2];
            if (std::fabs(dot - (i == j ? 1.0 : 0.0)) > 1e-3) {
                Say(reason, "mount matrix '" + std::string(Trim(text)).substr(0, 80) +
                                "' is not a rotation");
                return std::nullopt;
            }
        }
    }
    return m;
}

bool CScanDecoder::Init(std::vector<ScanElement> elements, std::string* reason) {
    *this = CScanDecoder();
    std::sort(elements.begin(), elements.end(),
              [](const ScanElement& a, const ScanElement& b) { return a.index < b.index; });
    std::set<Channel> seen;
    std::size_t bytes = 0;
    std::size_t largest = 1;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        ScanElement& e = elements[i];
        if (i > 0 && elements[i - 1].index == e.index) {
            Say(reason, e.name + " and " + elements[i - 1].name + " share scan index " +
                            std::to_string(e.index));
            return false;
        }
        const Channel channel = ChannelOf(e.name);
        if (channel != Channel::Unused && !seen.insert(channel).second) {
            Say(reason, e.name + " is enabled twice");
            return false;
        }
        if (channel != Channel::Timestamp && channel != Channel::Unused &&
            (!std::isfinite(e.scale) || e.scale == 0.0 || !std::isfinite(e.offset))) {
            Say(reason, e.name + " has no usable scale or offset");
            return false;
        }
        if (channel == Channel::Quaternion && e.type.repeat != 4) {
            Say(reason,
                "in_rot_quaternion has " + std::to_string(e.type.repeat) + " components, not 4");
            return false;
        }
        if (channel != Channel::Quaternion && channel != Channel::Unused && e.type.repeat != 1) {
            Say(reason, e.name + " repeats; one value was expected");
            return false;
        }
        if (channel == Channel::Timestamp && e.type.storageBits != 64) {
            Say(reason, "in_timestamp is not stored in 64 bits");
            return false;
        }
        // Each element starts on a multiple of its own size, as the kernel places it.
        const std::size_t size = e.type.Bytes();
        bytes = (bytes + size - 1) / size * size;
        e.byteOffset = bytes;
        bytes += size;
        largest = std::max(largest, size);
    }
    const auto has = [&](Channel a, Channel b, Channel c) {
        const int n = static_cast<int>(seen.count(a) + seen.count(b) + seen.count(c));
        return n;
    };
    const int accel = has(Channel::AccelX, Channel::AccelY, Channel::AccelZ);
    const int gyro = has(Channel::GyroX, Channel::GyroY, Channel::GyroZ);
    const int mag = has(Channel::MagX, Channel::MagY, Channel::MagZ);
    for (const auto& [n, what] :
         {std::pair{accel, "in_accel"}, std::pair{gyro, "in_anglvel"}, std::pair{mag, "in_magn"}}) {
        if (n != 0 && n != 3) {
            Say(reason,
                std::string(what) + " has " + std::to_string(n) + " of its three axes enabled");
            return false;
        }
    }
    m_hasAccel = accel == 3;
    m_hasGyro = gyro == 3;
    m_hasMag = mag == 3;
    m_hasQuaternion = seen.count(Channel::Quaternion) != 0;
    m_hasTimestamp = seen.count(Channel::Timestamp) != 0;
    if (!m_hasAccel && !m_hasGyro && !m_hasMag && !m_hasQuaternion) {
        Say(reason, "no accelerometer, gyroscope, magnetometer or orientation channel");
        return false;
    }
    if (m_hasQuaternion && (m_hasAccel || m_hasGyro || m_hasMag)) {
        Say(reason, "an orientation channel beside raw channels: use one or the other");
        return false;
    }
    m_scanBytes = (bytes + largest - 1) / largest * largest;
    m_elements = std::move(elements);
    return true;
}

void CScanDecoder::SetMountMatrices(const Matrix3& accel, const Matrix3& gyro, const Matrix3& mag,
                                    const Matrix3& orientation) {
    m_accelMount = accel;
    m_gyroMount = gyro;
    m_magMount = mag;
    m_rotMount = orientation;
}

std::int64_t CScanDecoder::RawValue(const ScanElement& element, const std::uint8_t* scan,
                                    unsigned item) {
    const ScanType& t = element.type;
    const std::size_t size = t.storageBits / 8;
    const std::uint8_t* p = scan + element.byteOffset + item * size;
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = t.bigEndian ? i : size - 1 - i;
        word = (word << 8) | p[at];
    }
    word >>= t.shift;
    if (t.realBits < 64) {
        word &= (std::uint64_t{1} << t.realBits) - 1;
        if (t.isSigned && (word >> (t.realBits - 1)) != 0) {
            word |= ~((std::uint64_t{1} << t.realBits) - 1);
        }
    }
    return static_cast<std::int64_t>(word);
}

void EncodeRaw(const ScanElement& element, std::uint8_t* scan, unsigned item, std::int64_t value) {
    const ScanType& t = element.type;
    const std::size_t size = t.storageBits / 8;
    std::uint64_t word = static_cast<std::uint64_t>(value);
    if (t.realBits < 64) {
        word &= (std::uint64_t{1} << t.realBits) - 1;
    }
    word <<= t.shift;
    std::uint8_t* p = scan + element.byteOffset + item * size;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = t.bigEndian ? size - 1 - i : i;
        p[at] = static_cast<std::uint8_t>(word >> (8 * i));
    }
}

bool CScanDecoder::Decode(const std::uint8_t* scan, std::size_t size, ScanValues& values,
                          std::string* reason) const {
    if (size < m_scanBytes || scan == nullptr) {
        Say(reason, "short scan: " + std::to_string(size) + " of " + std::to_string(m_scanBytes) +
                        " bytes");
        return false;
    }
    values = ScanValues();
    std::array<double, 4> xyzw{};
    for (const ScanElement& e : m_elements) {
        const Channel channel = ChannelOf(e.name);
        const auto scaled = [&](unsigned item) {
            return (static_cast<double>(RawValue(e, scan, item)) + e.offset) * e.scale;
        };
        switch (channel) {
            case Channel::AccelX:
            case Channel::AccelY:
            case Channel::AccelZ:
                values.accel[static_cast<int>(channel) - static_cast<int>(Channel::AccelX)] =
                    scaled(0);
                break;
            case Channel::GyroX:
            case Channel::GyroY:
            case Channel::GyroZ:
                values.gyro[static_cast<int>(channel) - static_cast<int>(Channel::GyroX)] =
                    scaled(0);
                break;
            case Channel::MagX:
            case Channel::MagY:
            case Channel::MagZ:
                values.mag[static_cast<int>(channel) - static_cast<int>(Channel::MagX)] = scaled(0);
                break;
            case Channel::Quaternion:
                for (unsigned i = 0; i < 4; ++i) {
                    xyzw[i] = scaled(i);
                }
                break;
            case Channel::Timestamp:
                values.timestampNs = RawValue(e, scan, 0);
                break;
            case Channel::Unused:
                break;
        }
    }
    values.hasAccel = m_hasAccel;
    values.hasGyro = m_hasGyro;
    values.hasMag = m_hasMag;
    values.hasTimestamp = m_hasTimestamp;
    values.accel = Rotate(m_accelMount, values.accel);
    values.gyro = Rotate(m_gyroMount, values.gyro);
    values.mag = Rotate(m_magMount, values.mag);
    for (const auto& v : {values.accel, values.gyro, values.mag}) {
        for (const double x : v) {
            if (!std::isfinite(x)) {
                Say(reason, "a value in the scan is not a finite number");
                return false;
            }
        }
    }
    if (m_hasQuaternion) {
        const double norm = std::sqrt(xyzw[0] * xyzw[0] + xyzw[1] * xyzw[1] + xyzw[2] * xyzw[2] +
                                      xyzw[3] * xyzw[3]);
        if (!std::isfinite(norm) || std::fabs(norm - 1.0) > kQuaternionTolerance) {
            Say(reason, "the orientation in the scan is not a unit quaternion (length " +
                            std::to_string(norm) + ")");
            return false;
        }
        const std::array<double, 4> device{xyzw[3] / norm, xyzw[0] / norm, xyzw[1] / norm,
                                           xyzw[2] / norm};
        // The device's quaternion turns its own axes into the earth's; the vessel's axes are
        // the mount matrix times the device's, so the vessel's turn is device * mount^-1.
        auto mount = attfilter::QuaternionOf(m_rotMount);
        mount[1] = -mount[1];
        mount[2] = -mount[2];
        mount[3] = -mount[3];
        values.quaternion = attfilter::QuaternionProduct(device, mount);
        values.hasQuaternion = true;
    }
    return true;
}

}  // namespace mtobj::iio
