// The capture file: what is written reads back exactly, and a file that is not a capture of
// this version is refused with its line and reason.
#include "mtobj/SensorCapture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "TestSupport.h"

namespace {

using mtobj::Capture;
using mtobj::ParseCapture;
using mtobj::SensorRecord;

std::vector<SensorRecord> SomeRecords() {
    std::vector<SensorRecord> records;
    records.push_back(SensorRecord{.restart = true});
    for (int i = 0; i < 50; ++i) {
        SensorRecord r;
        r.seconds = 1000.0 + i * 0.01 + 1e-13 * i;  // digits a short format would lose
        r.hasAccel = true;
        r.accel = {0.1 * i, -9.80665 + 1e-9 * i, std::sqrt(2.0)};
        if (i % 3 == 0) {
            r.hasGyro = true;
            r.gyro = {1e-5 * i, -0.0, 3.14159265358979};
        }
        if (i % 5 == 0) {
            r.hasMag = true;
            r.mag = {0.2, -0.1, -0.45 / 7};
        }
        records.push_back(r);
    }
    SensorRecord q;
    q.seconds = 2000;
    q.hasQuaternion = true;
    q.quaternion = {std::sqrt(0.5), 0, 0, -std::sqrt(0.5)};
    records.push_back(q);
    return records;
}

TEST(SensorCaptureTest, WhatIsWrittenReadsBackExactly) {
    const std::string path = tavimo_test::TempRoot() + "/capture.txt";
    const auto records = SomeRecords();
    {
        mtobj::CCaptureWriter writer;
        ASSERT_TRUE(writer.Open(path, "lsm9ds1 accel", nullptr));
        ASSERT_TRUE(writer.Write({records.begin(), records.begin() + 20}));
        ASSERT_TRUE(writer.Write({records.begin() + 20, records.end()}));
    }
    std::string reason;
    const auto capture = mtobj::ReadCapture(path, &reason);
    ASSERT_TRUE(capture) << reason;
    EXPECT_EQ(capture->deviceId, "lsm9ds1_accel");
    ASSERT_EQ(capture->records.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(capture->records[i], records[i]) << "record " << i;
    }
}

TEST(SensorCaptureTest, ReadsCommentsBlankLinesAndCarriageReturns) {
    const auto c = ParseCapture(
        "# recorded on the bench\r\ntavimo-capture 1\r\n\r\ndevice bno055\r\n"
        "# a comment\n12.5 Q 1 0 0 0\n13 A 0 0 9.81 G 0 0 0 M 0.2 0 -0.4\n",
        nullptr);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->deviceId, "bno055");
    ASSERT_EQ(c->records.size(), 2U);
    EXPECT_TRUE(c->records[0].hasQuaternion);
    EXPECT_TRUE(c->records[1].hasAccel && c->records[1].hasGyro && c->records[1].hasMag);
    EXPECT_DOUBLE_EQ(c->records[1].mag[2], -0.4);
}

TEST(SensorCaptureTest, RefusesWhatIsNotACaptureOfThisVersion) {
    const std::string head = "tavimo-capture 1\ndevice d\n";
    const struct {
        std::string text;
        std::string says;
    } cases[] = {
        {"", "empty"},
        {"hello\n", "not a capture"},
        {"tavimo-capture 2\ndevice d\n", "version 2"},
        {"tavimo-capture 1\n1 A 0 0 0\n", "device"},
        {"tavimo-capture 1\n", "no device"},
        {head + "x A 0 0 0\n", "line 3"},
        {head + "1\n", "without any field"},
        {head + "1 A 0 0\n", "needs 3"},
        {head + "1 A 0 0 nan\n", "not a number"},
        {head + "1 A 0 0 1e999\n", "not a number"},
        {head + "1 B 0 0 0\n", "not a field"},
        {head + "1 A 0 0 0 A 0 0 0\n", "twice"},
        {head + "1 Q 0.5 0 0 0\n", "unit length"},
        {head + "1 Q 1 0 0 0 A 0 0 9\n", "beside"},
        {head + "2 A 0 0 0\n1 A 0 0 0\n", "line 4: the time goes back"},
        {head + "1 A 0 0 0" + std::string(5000, ' ') + "\n", "line 3: longer than 4096"},
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_FALSE(ParseCapture(c.text, &reason)) << c.text;
        EXPECT_NE(reason.find(c.says), std::string::npos) << c.text << " -> " << reason;
    }
    std::string reason;
    EXPECT_FALSE(mtobj::ReadCapture(tavimo_test::TempRoot() + "/no-such-capture", &reason));
    EXPECT_NE(reason.find("No such file"), std::string::npos) << reason;
}

// Only a regular file is read, and in bounded memory: a FIFO nobody writes must not hold
// the open, a device must not stream without end, a huge line is refused unread.
TEST(SensorCaptureTest, OnlyARegularFileIsReadAndALongLineIsRefused) {
    const std::string fifo = tavimo_test::TempRoot() + "/capture.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string longLine = tavimo_test::TempRoot() + "/long-line.txt";
    {
        std::ofstream out(longLine);
        out << "tavimo-capture 1\ndevice d\n1 A 0 0 9.8\n" << std::string(50'000'000, '7') << "\n";
    }
    for (const auto& [path, says] : {std::pair{fifo, "not a regular file"},
                                     std::pair{std::string("/dev/zero"), "not a regular file"},
                                     std::pair{tavimo_test::TempRoot(), "not a regular file"},
                                     std::pair{longLine, "line 4: longer than 4096"}}) {
        std::string reason;
        EXPECT_FALSE(mtobj::ReadCapture(path, &reason)) << path;
        EXPECT_NE(reason.find(says), std::string::npos) << path << " -> " << reason;
    }

    // Read a record at a time, then again from the first record.
    const std::string path = tavimo_test::TempRoot() + "/stream.txt";
    {
        mtobj::CCaptureWriter writer;
        ASSERT_TRUE(writer.Open(path, "dev", nullptr));
        ASSERT_TRUE(writer.Write(SomeRecords()));
    }
    mtobj::CCaptureReader reader;
    std::string reason;
    ASSERT_TRUE(reader.Open(path, &reason)) << reason;
    SensorRecord r;
    std::size_t n = 0;
    while (reader.Next(r, &reason)) {
        ++n;
    }
    EXPECT_TRUE(reason.empty()) << reason;
    EXPECT_EQ(n, SomeRecords().size());
    ASSERT_TRUE(reader.Rewind(&reason));
    ASSERT_TRUE(reader.Next(r, &reason));
    EXPECT_EQ(r, SomeRecords().front());
}

TEST(SensorCaptureTest, ADeviceIdIsBoundedAndEscapedForKeysAndMessages) {
    EXPECT_EQ(mtobj::SafeDeviceId("lsm9ds1_accel+bno055"), "lsm9ds1_accel+bno055");
    EXPECT_EQ(mtobj::SafeDeviceId("a\\..\\b/c\x01\xC3"), "a%5C..%5Cb%2Fc%01%C3");
    EXPECT_EQ(mtobj::SafeDeviceId(std::string(1'000'000, 'x')).size(), mtobj::kMaxDeviceId);
    const auto c = ParseCapture("tavimo-capture 1\ndevice ..\\..\\Tavimo\n1 A 0 0 9.8\n", nullptr);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->deviceId, "..%5C..%5CTavimo");
}

TEST(SensorCaptureTest, AWriterThatCannotWriteSaysSo) {
    mtobj::CCaptureWriter writer;
    std::string reason;
    EXPECT_FALSE(writer.Open(tavimo_test::TempRoot() + "/no/such/folder/c.txt", "d", &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.Write(SomeRecords()));
}

}  // namespace
