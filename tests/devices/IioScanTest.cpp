// Reading the kernel's scan elements: type texts, the layout of a scan, decoding with signs,
// shifts, byte orders and scales, mount matrices, and scans that cannot be right.
#include "mtobj/IioScan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace mtobj::iio;

ScanElement Element(const std::string& name, int index, const std::string& type, double scale = 1.0,
                    double offset = 0.0) {
    ScanElement e;
    e.name = name;
    e.index = index;
    e.type = *ParseScanType(type, nullptr);
    e.scale = scale;
    e.offset = offset;
    return e;
}

TEST(IioScanTypeTest, ReadsTheKernelsTypeTexts) {
    auto t = ParseScanType("le:s16/16>>0", nullptr);
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->bigEndian);
    EXPECT_TRUE(t->isSigned);
    EXPECT_EQ(t->realBits, 16U);
    EXPECT_EQ(t->storageBits, 16U);
    EXPECT_EQ(t->repeat, 1U);
    EXPECT_EQ(t->shift, 0U);

    t = ParseScanType("be:u12/16>>4\n", nullptr);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->bigEndian);
    EXPECT_FALSE(t->isSigned);
    EXPECT_EQ(t->realBits, 12U);
    EXPECT_EQ(t->shift, 4U);

    t = ParseScanType("le:s32/32X4>>0", nullptr);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->repeat, 4U);
    EXPECT_EQ(t->Bytes(), 16U);
}

TEST(IioScanTypeTest, RefusesWhatIsNotATypeOrDoesNotFit) {
    for (const char* bad :
         {"", "s16/16>>0", "me:s16/16>>0", "le:x16/16>>0", "le:s16>>0", "le:s16/16", "le:s16/16>>",
          "le:s24/24>>0", "le:s17/16>>0", "le:s12/16>>6", "le:s0/16>>0", "le:s16/16X0>>0",
          "le:s16/16X99>>0", "le:s16/16>>0 junk", "le:s16/16>>16"}) {
        std::string reason;
        EXPECT_FALSE(ParseScanType(bad, &reason)) << bad;
        EXPECT_FALSE(reason.empty()) << bad;
    }
}

TEST(IioScanLayoutTest, AlignsEachElementToItsSizeAndPadsTheScan) {
    CScanDecoder d;
    // Index order, not the order given, decides the place.
    std::vector<ScanElement> e{
        Element("in_timestamp", 3, "le:s64/64>>0"), Element("in_accel_x", 0, "le:s16/16>>0"),
        Element("in_accel_y", 1, "le:s16/16>>0"), Element("in_accel_z", 2, "le:s16/16>>0")};
    ASSERT_TRUE(d.Init(e, nullptr));
    ASSERT_EQ(d.Elements().size(), 4U);
    EXPECT_EQ(d.Elements()[0].byteOffset, 0U);
    EXPECT_EQ(d.Elements()[2].byteOffset, 4U);
    EXPECT_EQ(d.Elements()[3].name, "in_timestamp");
    EXPECT_EQ(d.Elements()[3].byteOffset, 8U);  // 6 rounded up to 8
    EXPECT_EQ(d.ScanBytes(), 16U);

    // An 8-bit element, then 32-bit ones: 1 -> 4; the scan is padded to a multiple of 4.
    ASSERT_TRUE(
        d.Init({Element("in_temp", 0, "le:s8/8>>0"), Element("in_magn_x", 1, "le:s32/32>>0"),
                Element("in_magn_y", 2, "le:s32/32>>0"), Element("in_magn_z", 3, "le:s32/32>>0"),
                Element("in_accel_x", 4, "le:s8/8>>0"), Element("in_accel_y", 5, "le:s8/8>>0"),
                Element("in_accel_z", 6, "le:s8/8>>0")},
               nullptr));
    EXPECT_EQ(d.Elements()[1].byteOffset, 4U);
    EXPECT_EQ(d.Elements()[6].byteOffset, 18U);
    EXPECT_EQ(d.ScanBytes(), 20U);

    // A quaternion of four 32-bit parts is aligned to its whole 16 bytes, and so is the
    // scan: 16 + 8 is padded to 32.
    ASSERT_TRUE(d.Init({Element("in_timestamp", 1, "le:s64/64>>0"),
                        Element("in_rot_quaternion", 0, "le:s32/32X4>>0")},
                       nullptr));
    EXPECT_EQ(d.Elements()[1].byteOffset, 16U);
    EXPECT_EQ(d.ScanBytes(), 32U);
    // Four 16-bit parts then the time stamp: 8 + 8.
    ASSERT_TRUE(d.Init({Element("in_rot_quaternion", 0, "le:s16/16X4>>0"),
                        Element("in_timestamp", 1, "le:s64/64>>0")},
                       nullptr));
    EXPECT_EQ(d.ScanBytes(), 16U);
}

TEST(IioScanLayoutTest, RefusesLayoutsTheFilterCannotUse) {
    const auto refused = [](std::vector<ScanElement> e) {
        CScanDecoder d;
        std::string reason;
        const bool ok = d.Init(std::move(e), &reason);
        EXPECT_TRUE(ok || !reason.empty());
        return !ok;
    };
    EXPECT_TRUE(refused({}));
    EXPECT_TRUE(refused({Element("in_timestamp", 0, "le:s64/64>>0")}));
    EXPECT_TRUE(refused({Element("in_accel_x", 0, "le:s16/16>>0"),
                         Element("in_accel_y", 1, "le:s16/16>>0")}));  // no z
    EXPECT_TRUE(
        refused({Element("in_accel_x", 0, "le:s16/16>>0"), Element("in_accel_y", 0, "le:s16/16>>0"),
                 Element("in_accel_z", 2, "le:s16/16>>0")}));  // one index twice
    EXPECT_TRUE(refused({Element("in_accel_x", 0, "le:s16/16>>0", 0.0),
                         Element("in_accel_y", 1, "le:s16/16>>0"),
                         Element("in_accel_z", 2, "le:s16/16>>0")}));  // scale 0
    EXPECT_TRUE(refused({Element("in_accel_x", 0, "le:s16/16>>0", NAN),
                         Element("in_accel_y", 1, "le:s16/16>>0"),
                         Element("in_accel_z", 2, "le:s16/16>>0")}));
    EXPECT_TRUE(refused({Element("in_rot_quaternion", 0, "le:s16/16X3>>0")}));
    EXPECT_TRUE(refused({Element("in_timestamp", 0, "le:s32/32>>0"),
                         Element("in_rot_quaternion", 1, "le:s16/16X4>>0")}));
    EXPECT_TRUE(
        refused({Element("in_rot_quaternion", 0, "le:s16/16X4>>0"),
                 Element("in_accel_x", 1, "le:s16/16>>0"), Element("in_accel_y", 2, "le:s16/16>>0"),
                 Element("in_accel_z", 3, "le:s16/16>>0")}));
    EXPECT_FALSE(refused({Element("in_rot_quaternion", 0, "le:s16/16X4>>0")}));
}

TEST(IioScanDecodeTest, SignsShiftsByteOrdersAndScales) {
    CScanDecoder d;
    // x: little-endian signed 12 bits shifted by 4 in 16; y: big-endian signed 16;
    // z: unsigned 8 with an offset; all scaled.
    ASSERT_TRUE(d.Init({Element("in_accel_x", 0, "le:s12/16>>4", 0.5),
                        Element("in_accel_y", 1, "be:s16/16>>0", 0.25),
                        Element("in_accel_z", 2, "le:u8/8>>0", 2.0, -128)},
                       nullptr));
    ASSERT_EQ(d.ScanBytes(), 6U);
    std::vector<std::uint8_t> scan(d.ScanBytes(), 0);
    // x = -3 in 12 bits (0xFFD), shifted: 0xFFD0, with junk in the low 4 bits.
    scan[0] = 0xD7;
    scan[1] = 0xFF;
    // y = -2 big-endian: FF FE.
    scan[2] = 0xFF;
    scan[3] = 0xFE;
    scan[4] = 200;
    ScanValues v;
    ASSERT_TRUE(d.Decode(scan.data(), scan.size(), v, nullptr));
    ASSERT_TRUE(v.hasAccel);
    EXPECT_DOUBLE_EQ(v.accel[0], -1.5);
    EXPECT_DOUBLE_EQ(v.accel[1], -0.5);
    EXPECT_DOUBLE_EQ(v.accel[2], 144.0);  // (200 - 128) * 2
}

TEST(IioScanDecodeTest, EncodeAndDecodeAgreeOverTheWholeRange) {
    for (const char* type : {"le:s16/16>>0", "be:s16/16>>0", "le:u16/16>>0", "le:s12/16>>4",
                             "be:s24/32>>8", "le:s32/32>>0", "be:u32/32>>0", "le:s64/64>>0",
                             "be:s64/64>>0", "le:s8/8>>0", "le:u4/8>>2"}) {
        ScanElement e = Element("in_magn_x", 0, type);
        const ScanType& t = e.type;
        const std::int64_t low =
            t.isSigned
                ? -(t.realBits == 64 ? INT64_MAX : (std::int64_t{1} << (t.realBits - 1)) - 1) - 1
                : 0;
        const std::int64_t high = t.realBits == 64 ? INT64_MAX
                                  : t.isSigned     ? (std::int64_t{1} << (t.realBits - 1)) - 1
                                                   : (std::int64_t{1} << t.realBits) - 1;
        for (const std::int64_t value :
             {low, low + 1, std::int64_t{-1}, std::int64_t{0}, std::int64_t{1}, high - 1, high}) {
            if (value < low || value > high) {
                continue;
            }
            std::vector<std::uint8_t> scan(8, 0xA5);
            EncodeRaw(e, scan.data(), 0, value);
            EXPECT_EQ(CScanDecoder::RawValue(e, scan.data(), 0), value) << type << " " << value;
        }
    }
}

TEST(IioScanDecodeTest, QuaternionTimestampAndMountMatrix) {
    CScanDecoder d;
    ASSERT_TRUE(d.Init({Element("in_rot_quaternion", 0, "le:s32/32X4>>0", 1.0 / (1 << 30)),
                        Element("in_timestamp", 1, "le:s64/64>>0")},
                       nullptr));
    std::vector<std::uint8_t> scan(d.ScanBytes(), 0);
    const auto& q = d.Elements()[0];
    // x y z w: a turn of 90 degrees about up.
    const double h = std::sqrt(0.5);
    EncodeRaw(q, scan.data(), 0, 0);
    EncodeRaw(q, scan.data(), 1, 0);
    EncodeRaw(q, scan.data(), 2, std::llround(h * (1 << 30)));
    EncodeRaw(q, scan.data(), 3, std::llround(h * (1 << 30)));
    EncodeRaw(d.Elements()[1], scan.data(), 0, 1234567890123LL);
    ScanValues v;
    ASSERT_TRUE(d.Decode(scan.data(), scan.size(), v, nullptr));
    ASSERT_TRUE(v.hasQuaternion);
    ASSERT_TRUE(v.hasTimestamp);
    EXPECT_EQ(v.timestampNs, 1234567890123LL);
    EXPECT_NEAR(v.quaternion[0], h, 1e-9);  // w first
    EXPECT_NEAR(v.quaternion[3], h, 1e-9);

    // A device mounted turned by 90 degrees about up: the mount matrix turns it back.
    const auto m = ParseMountMatrix("0, -1, 0; 1, 0, 0; 0, 0, 1", nullptr);
    ASSERT_TRUE(m);
    d.SetMountMatrices(*m, *m, *m, *m);
    ASSERT_TRUE(d.Decode(scan.data(), scan.size(), v, nullptr));
    EXPECT_NEAR(std::fabs(v.quaternion[0]), 1.0, 1e-9);
    EXPECT_NEAR(v.quaternion[3], 0.0, 1e-9);
}

TEST(IioScanDecodeTest, MountMatrixTurnsVectorsIntoTheVesselsAxes) {
    CScanDecoder d;
    ASSERT_TRUE(d.Init(
        {Element("in_accel_x", 0, "le:s16/16>>0"), Element("in_accel_y", 1, "le:s16/16>>0"),
         Element("in_accel_z", 2, "le:s16/16>>0"), Element("in_anglvel_x", 3, "le:s16/16>>0"),
         Element("in_anglvel_y", 4, "le:s16/16>>0"), Element("in_anglvel_z", 5, "le:s16/16>>0")},
        nullptr));
    // The accelerometer is mounted with its x along the vessel's y; the gyroscope upside down.
    d.SetMountMatrices(*ParseMountMatrix("0, -1, 0; 1, 0, 0; 0, 0, 1", nullptr),
                       *ParseMountMatrix("1, 0, 0; 0, -1, 0; 0, 0, -1", nullptr), kIdentity,
                       kIdentity);
    std::vector<std::uint8_t> scan(d.ScanBytes(), 0);
    for (int i = 0; i < 6; ++i) {
        EncodeRaw(d.Elements()[static_cast<std::size_t>(i)], scan.data(), 0, i + 1);
    }
    ScanValues v;
    ASSERT_TRUE(d.Decode(scan.data(), scan.size(), v, nullptr));
    EXPECT_DOUBLE_EQ(v.accel[0], -2);
    EXPECT_DOUBLE_EQ(v.accel[1], 1);
    EXPECT_DOUBLE_EQ(v.accel[2], 3);
    EXPECT_DOUBLE_EQ(v.gyro[0], 4);
    EXPECT_DOUBLE_EQ(v.gyro[1], -5);
    EXPECT_DOUBLE_EQ(v.gyro[2], -6);
    EXPECT_FALSE(v.hasMag);
}

TEST(IioScanDecodeTest, ShortAndImpossibleScansGiveNoSample) {
    CScanDecoder d;
    ASSERT_TRUE(d.Init({Element("in_rot_quaternion", 0, "le:s16/16X4>>0", 1.0 / 16384)}, nullptr));
    std::vector<std::uint8_t> scan(d.ScanBytes(), 0);
    ScanValues v;
    std::string reason;
    EXPECT_FALSE(d.Decode(scan.data(), scan.size() - 1, v, &reason));
    EXPECT_NE(reason.find("short"), std::string::npos);
    // All zero: not a rotation.
    EXPECT_FALSE(d.Decode(scan.data(), scan.size(), v, &reason));
    EXPECT_NE(reason.find("unit"), std::string::npos);
    EncodeRaw(d.Elements()[0], scan.data(), 3, 16384);
    EXPECT_TRUE(d.Decode(scan.data(), scan.size(), v, &reason));
    EXPECT_FALSE(d.Decode(nullptr, 0, v, &reason));
}

TEST(IioMountMatrixTest, RefusesWhatIsNotARotation) {
    EXPECT_TRUE(ParseMountMatrix("1, 0, 0; 0, 1, 0; 0, 0, 1\n", nullptr));
    EXPECT_TRUE(
        ParseMountMatrix("0.7071068, -0.7071068, 0; 0.7071068, 0.7071068, 0; 0, 0, 1", nullptr));
    for (const char* bad :
         {"", "1, 0, 0; 0, 1, 0", "1, 0, 0; 0, 1, 0; 0, 0, 1; 1", "2, 0, 0; 0, 1, 0; 0, 0, 1",
          "1, 0, 0; 1, 0, 0; 0, 0, 1", "a, 0, 0; 0, 1, 0; 0, 0, 1", "1, 0, 0; 0, 1, 0; 0, 0, inf",
          "1,,0; 0, 1, 0; 0, 0, 1"}) {
        std::string reason;
        EXPECT_FALSE(ParseMountMatrix(bad, &reason)) << bad;
        EXPECT_FALSE(reason.empty());
    }
}

}  // namespace
