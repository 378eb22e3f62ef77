// The buffered samples of a Linux Industrial I/O (IIO) device, read without the operating
// system: the type text of a scan element ("le:s16/16>>0", "be:u32/32X4>>0"), the layout of
// the enabled elements in one scan (each aligned to its own size, the scan padded to its
// largest element), the mount matrix, and the decoding of one scan into calibrated units.
// The device file that reads sysfs and /dev/iio:* gives this code the texts and the bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mtobj::iio {

// One element's storage: `[be|le]:[s|u]REAL/STORAGE[Xrepeat]>>SHIFT`.
struct ScanType {
    bool bigEndian = false;
    bool isSigned = true;
    unsigned realBits = 16;
    unsigned storageBits = 16;
    unsigned repeat = 1;
    unsigned shift = 0;

    std::size_t Bytes() const { return std::size_t{storageBits} / 8 * repeat; }
};

// Reads a type text; nullopt, and the reason in *reason, for a text that is not one or a
// storage this decoder cannot hold (storage other than 8, 16, 32 or 64 bits, real bits beyond
// the storage, more than 16 repeats).
std::optional<ScanType> ParseScanType(std::string_view text, std::string* reason);

// What an element measures, from its name.
enum class Channel {
    Unused,  // enabled by someone else, skipped over
    AccelX,  // in_accel_x, m/s²
    AccelY,
    AccelZ,
    GyroX,  // in_anglvel_x, rad/s
    GyroY,
    GyroZ,
    MagX,  // in_magn_x, gauss
    MagY,
    MagZ,
    Quaternion,  // in_rot_quaternion: x, y, z, w
    Timestamp,   // in_timestamp: nanoseconds
};
// The channel of a scan element's name ("in_accel_x", "in_timestamp", ...).
Channel ChannelOf(std::string_view name);

// One enabled element of a scan.
struct ScanElement {
    std::string name;  // "in_accel_x"
    int index = 0;     // its place in the scan
    ScanType type;
    double scale = 1.0;  // value = (raw + offset) * scale
    double offset = 0.0;
    std::size_t byteOffset = 0;  // set by Layout
};

// A 3x3 matrix, row-major, turning a device's axes into the vessel's (x bow, y port, z up).
using Matrix3 = std::array<double, 9>;
constexpr Matrix3 kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};

// Reads a mount matrix text ("1, 0, 0; 0, 1, 0; 0, 0, 1"); nullopt for anything else, or a
// matrix that is not a rotation (rows of unit length, at right angles).
std::optional<Matrix3> ParseMountMatrix(std::string_view text, std::string* reason);

// What one scan holds, in calibrated units with the mount matrices applied.
struct ScanValues {
    bool hasAccel = false;
    bool hasGyro = false;
    bool hasMag = false;
    bool hasQuaternion = false;
    bool hasTimestamp = false;
    std::array<double, 3> accel{};
    std::array<double, 3> gyro{};
    std::array<double, 3> mag{};
    std::array<double, 4> quaternion{1, 0, 0, 0};  // w, x, y, z
    std::int64_t timestampNs = 0;
};

// The enabled elements of one device and how to read its scans.
class CScanDecoder {
public:
    // Orders the elements by index and places them in the scan. False, with the reason, for
    // a layout whose channels the filter cannot use: a vector without all three axes, a
    // quaternion without four components, two elements on one index, a scale that is not a
    // finite non-zero number, nothing useful at all.
    bool Init(std::vector<ScanElement> elements, std::string* reason);
    // The mount matrix of each kind of channel (identity unless set); the orientation's turns
    // the device's axes of a fused quaternion into the vessel's.
    void SetMountMatrices(const Matrix3& accel, const Matrix3& gyro, const Matrix3& mag,
                          const Matrix3& orientation);

    std::size_t ScanBytes() const { return m_scanBytes; }
    const std::vector<ScanElement>& Elements() const { return m_elements; }
    bool HasRaw() const { return m_hasAccel || m_hasGyro || m_hasMag; }
    bool HasQuaternion() const { return m_hasQuaternion; }
    bool HasTimestamp() const { return m_hasTimestamp; }

    // Decodes one scan of ScanBytes() bytes. False, with the reason, for a scan that is short
    // or whose values cannot be right (a quaternion far from unit length, a value that is
    // not finite): such a scan gives no sample.
    bool Decode(const std::uint8_t* scan, std::size_t size, ScanValues& values,
                std::string* reason) const;

    // The raw integer of repeat `item` of an element (sign-extended, shifted, masked).
    static std::int64_t RawValue(const ScanElement& element, const std::uint8_t* scan,
                                 unsigned item);

private:
    std::vector<ScanElement> m_elements;
    std::size_t m_scanBytes = 0;
    bool m_hasAccel = false;
    bool m_hasGyro = false;
    bool m_hasMag = false;
    bool m_hasQuaternion = false;
    bool m_hasTimestamp = false;
    Matrix3 m_accelMount = kIdentity;
    Matrix3 m_gyroMount = kIdentity;
    Matrix3 m_magMount = kIdentity;
    Matrix3 m_rotMount = kIdentity;
};

// Writes `value` as the raw integer of one element into a scan: what a device does, for
// tests and the fake devices that stand in for one.
void EncodeRaw(const ScanElement& element, std::uint8_t* scan, unsigned item, std::int64_t value);

}  // namespace mtobj::iio
