// Reading heading and attitude telegrams: real sentences as instruments send them, this
// module's own telegrams read back, and every way a line is refused.
#include "mtobj/TelegramSentences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/Telegrams.h"

namespace {

using mtobj::telegrams::CLineReader;
using mtobj::telegrams::CSampleCombiner;
using mtobj::telegrams::EDrop;
using mtobj::telegrams::ParseLine;
using mtobj::telegrams::Reading;

// Cuts a stream into lines and drop reasons, fed in pieces of `piece` bytes.
struct Cut {
    std::vector<std::string> lines;
    std::vector<EDrop> drops;
};
Cut CutLines(const std::string& stream, std::size_t piece = 7) {
    Cut cut;
    CLineReader reader;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::string block = stream.substr(at, piece);
        reader.Feed(
            block.data(), block.size(),
            [&](const CLineReader::Line& line) {
                EXPECT_TRUE(block[line.endIndex] == '\r' || block[line.endIndex] == '\n');
                cut.lines.emplace_back(line.text);
            },
            [&](EDrop reason, std::string_view) { cut.drops.push_back(reason); });
    }
    return cut;
}

Reading Read(const std::string& line) {
    const auto result = ParseLine(line);
    EXPECT_TRUE(result.reading.has_value()) << line << " dropped as " << DropName(result.drop);
    return result.reading.value_or(Reading{});
}

EDrop DropOf(const std::string& line) {
    const auto result = ParseLine(line);
    EXPECT_FALSE(result.reading.has_value()) << line;
    return result.drop;
}

TEST(TelegramLineReaderTest, CutsLinesAtAnyLineEndAcrossBlocks) {
    const Cut cut = CutLines("$HEHDT,123.4,T*2B\r\n:000000  0000U 0225 -0150\n\r\n$A\r$B\r\n", 3);
    EXPECT_EQ(cut.lines, (std::vector<std::string>{"$HEHDT,123.4,T*2B", ":000000  0000U 0225 -0150",
                                                   "$A", "$B"}));
    EXPECT_TRUE(cut.drops.empty());
}

TEST(TelegramLineReaderTest, LongLinesBinaryBytesAndFloodsAreDroppedWholeInBoundedMemory) {
    // A line of exactly the limit passes; one byte more drops the whole line, also when it
    // runs on for a megabyte with no end, and the next line is read again.
    const std::string atLimit(mtobj::telegrams::kMaxLine, 'A');
    std::string stream = atLimit + "\r\n" + atLimit + "B\r\n" + std::string(1 << 20, 'x') +
                         "\n$GOOD\r\n$BIN\x80"
                         "ARY\r\n$CTRL\x01\r\n$AFTER\r\n";
    const Cut cut = CutLines(stream, 4096);
    EXPECT_EQ(cut.lines, (std::vector<std::string>{atLimit, "$GOOD", "$AFTER"}));
    EXPECT_EQ(cut.drops,
              (std::vector<EDrop>{EDrop::TooLong, EDrop::TooLong, EDrop::Binary, EDrop::Binary}));
    EXPECT_LE(sizeof(CLineReader), mtobj::telegrams::kMaxLine + 64);
}

TEST(TelegramLineReaderTest, ReportsWhereEachLineEndsAndHowLongItTook) {
    CLineReader reader;
    const std::string block = "$HEHDT,1.0,T\r\n$X\n";
    std::vector<CLineReader::Line> lines;
    reader.Feed(
        block.data(), block.size(), [&](const CLineReader::Line& l) { lines.push_back(l); },
        [](EDrop, std::string_view) {});
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].endIndex, 12U);  // the CR
    EXPECT_EQ(lines[0].bytes, 13U);     // 12 characters and the CR
    EXPECT_EQ(lines[1].endIndex, 16U);
    EXPECT_EQ(lines[1].bytes, 3U);
}

TEST(TelegramSentencesTest, HeadingSentencesFromAnyTalker) {
    Reading r = Read("$HEHDT,274.07,T*19");
    EXPECT_EQ(r.source, "HEHDT");
    EXPECT_DOUBLE_EQ(*r.heading, 274.07);
    EXPECT_FALSE(r.magnetic);
    EXPECT_FALSE(r.roll.has_value());
    // Without a checksum, and from other talkers.
    EXPECT_DOUBLE_EQ(*Read("$GPHDT,0.5,T").heading, 0.5);
    EXPECT_DOUBLE_EQ(*Read("$INHDT,360.0,T").heading, 0.0);
    r = Read("$HCHDM,012.500,M*2f");
    EXPECT_TRUE(r.magnetic);
    EXPECT_DOUBLE_EQ(*r.heading, 12.5);
    // THS: only the autonomous mode counts.
    r = Read("$INTHS,123.45,A");
    EXPECT_EQ(r.source, "INTHS");
    EXPECT_DOUBLE_EQ(*r.heading, 123.45);
    for (const char* mode : {"E", "M", "S", "V"}) {
        EXPECT_EQ(DropOf(std::string("$INTHS,123.45,") + mode), EDrop::NotValid);
    }
    EXPECT_NE(ParseLine("$INTHS,123.45,E").note.find("THS mode E"), std::string::npos);
}

TEST(TelegramSentencesTest, HdgAppliesDeviationAndVariation) {
    // 101.1 magnetic sensor heading, 2.0 W deviation, 7.1 E variation: 106.2 true.
    Reading r = Read("$HCHDG,101.1,2.0,W,7.1,E");
    EXPECT_NEAR(*r.heading, 106.2, 1e-9);
    EXPECT_FALSE(r.magnetic);
    // Across north both ways.
    EXPECT_NEAR(*Read("$HCHDG,355.0,,,10.0,E").heading, 5.0, 1e-9);
    EXPECT_NEAR(*Read("$HCHDG,3.0,1.5,E,10.0,W").heading, 354.5, 1e-9);
    // Without variation the heading stays magnetic, deviation applied.
    r = Read("$HCHDG,101.1,2.0,E,,");
    EXPECT_NEAR(*r.heading, 103.1, 1e-9);
    EXPECT_TRUE(r.magnetic);
    EXPECT_EQ(DropOf("$HCHDG,101.1,2.0,X,7.1,E"), EDrop::Malformed);
    EXPECT_EQ(DropOf("$HCHDG,101.1,2.0,W,7.1"), EDrop::Malformed);
    EXPECT_EQ(DropOf("$HCHDG,101.1,2.0,W,,E"), EDrop::Malformed);
}

TEST(TelegramSentencesTest, AttitudeSentences) {
    Reading r = Read("$PRDID,  -1.500,   2.250,   5.250*67");
    EXPECT_EQ(r.source, "PRDID");
    EXPECT_DOUBLE_EQ(*r.pitch, -1.5);
    EXPECT_DOUBLE_EQ(*r.roll, 2.25);
    EXPECT_DOUBLE_EQ(*r.heading, 5.25);
    r = Read(":0A01F3 -0012G-0345  1200");
    EXPECT_EQ(r.source, "TSS1");
    EXPECT_DOUBLE_EQ(*r.roll, -3.45);
    EXPECT_DOUBLE_EQ(*r.pitch, 12.0);
    EXPECT_DOUBLE_EQ(*r.heave, -0.12);
    EXPECT_FALSE(r.heading.has_value());
    for (const char* status : {"U", "G", "H", "F"}) {
        EXPECT_TRUE(ParseLine(std::string(":000000  0000") + status + " 0100  0100").reading);
    }
    // A sender that is still settling says so in lower case: not used, and the trace says why.
    for (const char* status : {"u", "g", "h", "f"}) {
        const auto result = ParseLine(std::string(":000000  0000") + status + " 0100  0100");
        EXPECT_EQ(result.drop, EDrop::NotValid);
        EXPECT_NE(result.note.find("settling"), std::string::npos);
    }
}

TEST(TelegramSentencesTest, OurOwnTelegramsReadBackToTheValuesSent) {
    char out[::telegrams::kMaxTelegramLength];
    const struct {
        float heading, pitch, roll;
    } cases[] = {{5.25F, -1.5F, 2.25F},
                 {359.9994F, 0.29F, -0.001F},
                 {0.0F, 89.99F, -120.0F},
                 {181.123F, -45.678F, 12.34F},
                 {90.0F, 0.0F, 0.0F}};
    for (const auto& c : cases) {
        std::size_t n = ::telegrams::FormatHDT(out, c.heading);
        ASSERT_EQ(std::string(out + n - 2, 2), "\r\n");
        Reading r = Read(std::string(out, n - 2));
        EXPECT_NEAR(*r.heading, std::fmod(std::round(c.heading * 1000.0) / 1000.0, 360.0), 1e-9);

        n = ::telegrams::FormatPRDID(out, c.pitch, c.roll, c.heading);
        r = Read(std::string(out, n - 2));
        EXPECT_NEAR(*r.pitch, std::round(c.pitch * 1000.0) / 1000.0, 1e-9);
        EXPECT_NEAR(*r.roll, std::round(c.roll * 1000.0) / 1000.0, 1e-9);

        // TSS1 truncates to hundredths; reading back gives exactly what was written,
        // including five-digit magnitudes past 100 degrees.
        n = ::telegrams::FormatTSS1(out, c.roll, c.pitch);
        r = Read(std::string(out, n - 2));
        EXPECT_DOUBLE_EQ(*r.roll, std::trunc(static_cast<double>(c.roll) * 100.0) / 100.0);
        EXPECT_DOUBLE_EQ(*r.pitch, std::trunc(static_cast<double>(c.pitch) * 100.0) / 100.0);
        EXPECT_DOUBLE_EQ(*r.heave, 0.0);
    }
}

TEST(TelegramSentencesTest, ATss1LineReadGoesOutAgainAsItCame) {
    // Heave, accelerations and the sender's status letter pass through unchanged.
    for (const std::string line :
         {":1AF9C0  0124U 0225 -0150", ":FF8000 -9999H-0125  0050", ":00007F  0000F 0000  0000"}) {
        const Reading r = Read(line);
        ASSERT_TRUE(r.motion) << line;
        char out[::telegrams::kMaxTelegramLength];
        const std::size_t n = ::telegrams::FormatTSS1(out, static_cast<float>(*r.roll),
                                                      static_cast<float>(*r.pitch), &*r.motion);
        EXPECT_EQ(std::string(out, n), line + "\r\n");
    }
}

TEST(TelegramSentencesTest, ChecksumsInEitherCaseAndWrongOnesDropped) {
    EXPECT_TRUE(ParseLine("$HCHDT,005.250,T*2b").reading);
    EXPECT_TRUE(ParseLine("$HCHDT,005.250,T*2B").reading);
    EXPECT_EQ(DropOf("$HCHDT,005.250,T*2c"), EDrop::Checksum);
    EXPECT_EQ(DropOf("$HCHDT,005.250,T*2"), EDrop::Checksum);
    EXPECT_EQ(DropOf("$HCHDT,005.250,T*2G"), EDrop::Checksum);
    EXPECT_EQ(DropOf("$HCHDT,005.250,T*2b0"), EDrop::Checksum);
    EXPECT_EQ(DropOf("$HCHDT,005.25*0,T*2b"), EDrop::Checksum);
    // A damaged digit changes the sum.
    EXPECT_EQ(DropOf("$HCHDT,005.350,T*2b"), EDrop::Checksum);
}

TEST(TelegramSentencesTest, ShortLinesLettersInNumbersAndRangesAreDropped) {
    EXPECT_EQ(DropOf("$HEHDT,,T"), EDrop::Malformed);
    EXPECT_EQ(DropOf("$HEHDT,12.0"), EDrop::Malformed);
    EXPECT_EQ(DropOf("$HEHDT,12.0,M"), EDrop::Malformed);
    EXPECT_EQ(DropOf("$HEHDT,12.0,T,"), EDrop::Malformed);
    EXPECT_EQ(DropOf("$HE"), EDrop::Malformed);
    EXPECT_EQ(DropOf(":000000  0000U 0225"), EDrop::Malformed);
    EXPECT_EQ(DropOf(":000000  0000U 022 -0150"), EDrop::Malformed);
    EXPECT_EQ(DropOf(":000000  0000X 0225 -0150"), EDrop::Malformed);
    EXPECT_EQ(DropOf(":000000  0000U 0225 -0150 "), EDrop::Malformed);

    for (const char* number : {"1A3.0", "12.3.4", "1e2", "inf", "nan", "0x10", "-", ".", "12 3"}) {
        EXPECT_EQ(DropOf(std::string("$HEHDT,") + number + ",T"), EDrop::BadNumber) << number;
    }
    EXPECT_EQ(DropOf("$PRDID,1.0,x2.0,3.0"), EDrop::BadNumber);
    EXPECT_EQ(DropOf(":000000  0000U 02A5 -0150"), EDrop::BadNumber);
    EXPECT_EQ(DropOf(":00Z000  0000U 0225 -0150"), EDrop::BadNumber);

    EXPECT_EQ(DropOf("$HEHDT,360.01,T"), EDrop::OutOfRange);
    EXPECT_EQ(DropOf("$HEHDT,-0.5,T"), EDrop::OutOfRange);
    EXPECT_EQ(DropOf("$PRDID,90.5,0.0,10.0"), EDrop::OutOfRange);
    EXPECT_EQ(DropOf("$PRDID,0.0,180.5,10.0"), EDrop::OutOfRange);
    EXPECT_EQ(DropOf(":000000  0000U 0225  9100"), EDrop::OutOfRange);

    EXPECT_EQ(DropOf("$GPGGA,1,2,3"), EDrop::Unknown);
    EXPECT_EQ(DropOf("HEHDT,12.0,T"), EDrop::Garbage);
    EXPECT_EQ(DropOf("$hehdt,12.0,T"), EDrop::Malformed);
}

// ---- Combining headings with rolls and pitches ---------------------------------------------

Reading Heading(double degrees, bool magnetic = false) {
    Reading r;
    r.source = magnetic ? "HEHDM" : "HEHDT";
    r.heading = degrees;
    r.magnetic = magnetic;
    return r;
}
Reading RollPitch(double roll, double pitch) {
    Reading r;
    r.source = "TSS1";
    r.roll = roll;
    r.pitch = pitch;
    return r;
}

TEST(TelegramCombinerTest, OneSampleACycleInEitherOrder) {
    CSampleCombiner combiner(100.0);
    // Heading then roll and pitch, 10 Hz.
    for (int i = 0; i < 5; ++i) {
        const double t = 1000.0 + 100.0 * i;
        EXPECT_FALSE(combiner.Add(Heading(10.0 + i), t).sample);
        const auto out = combiner.Add(RollPitch(1.0 + i, -2.0 - i), t + 4.0);
        ASSERT_TRUE(out.sample);
        EXPECT_DOUBLE_EQ(out.sample->heading, 10.0 + i);
        EXPECT_DOUBLE_EQ(out.sample->roll, 1.0 + i);
        EXPECT_DOUBLE_EQ(out.sample->pitch, -2.0 - i);
        EXPECT_DOUBLE_EQ(out.sample->time, t + 4.0);
        EXPECT_FALSE(out.sample->headingOnly);
    }
    // Roll and pitch first: the heading that follows completes the sample.
    CSampleCombiner reversed(100.0);
    EXPECT_EQ(reversed.Add(RollPitch(1.0, 2.0), 0.0).drop, EDrop::NoHeading);
    auto out = reversed.Add(Heading(50.0), 3.0);
    ASSERT_TRUE(out.sample);
    EXPECT_DOUBLE_EQ(out.sample->roll, 1.0);
    EXPECT_DOUBLE_EQ(out.sample->heading, 50.0);
    // A roll and pitch is used once: a second heading alone makes no sample.
    EXPECT_FALSE(reversed.Add(Heading(51.0), 20.0).sample);
}

TEST(TelegramCombinerTest, PartsFurtherApartThanTheGapMakeNoSample) {
    CSampleCombiner combiner(100.0);
    combiner.Add(Heading(10.0), 0.0);
    EXPECT_TRUE(combiner.Add(RollPitch(1.0, 1.0), 100.0).sample);
    combiner.Add(Heading(11.0), 200.0);
    EXPECT_FALSE(combiner.Add(RollPitch(1.0, 1.0), 300.5).sample);
    // A configured wider gap takes it.
    CSampleCombiner wide(150.0);
    wide.Add(Heading(10.0), 0.0);
    EXPECT_TRUE(wide.Add(RollPitch(1.0, 1.0), 140.0).sample);
}

TEST(TelegramCombinerTest, FastMotionSensorBesideASlowCompass) {
    CSampleCombiner combiner(100.0);
    combiner.Add(Heading(10.0), 0.0);
    int samples = 0;
    for (int i = 1; i <= 4; ++i) {  // 50 Hz roll and pitch within 100 ms of the heading
        samples += combiner.Add(RollPitch(i, i), 20.0 * i).sample ? 1 : 0;
    }
    EXPECT_EQ(samples, 4);
}

TEST(TelegramCombinerTest, HeadingOnlySendersAndMagneticBesideTrue) {
    CSampleCombiner combiner(100.0);
    // The first headings could be followed by roll and pitch: no sample with made-up zeros.
    EXPECT_FALSE(combiner.Add(Heading(40.0), 0.0).sample);
    EXPECT_FALSE(combiner.Add(Heading(41.0), 100.0).sample);
    auto out = combiner.Add(Heading(42.0), 200.0);
    ASSERT_TRUE(out.sample);
    EXPECT_TRUE(out.sample->headingOnly);
    EXPECT_DOUBLE_EQ(out.sample->heading, 42.0);
    EXPECT_DOUBLE_EQ(out.sample->roll, 0.0);
    EXPECT_DOUBLE_EQ(out.sample->pitch, 0.0);
    // Restarting keeps what the sender is known to send; another sender is learnt afresh.
    combiner.Reset();
    EXPECT_TRUE(combiner.Add(Heading(43.0), 300.0).sample);
    combiner.Forget();
    EXPECT_FALSE(combiner.Add(Heading(43.0), 400.0).sample);

    // A magnetic heading is used until a true one shows up, then no longer.
    CSampleCombiner mixed(100.0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mixed.Add(Heading(40.0, true), 10.0 * i).sample.has_value(), i == 2);
    }
    EXPECT_TRUE(mixed.Add(Heading(42.0), 30.0).sample);
    EXPECT_EQ(mixed.Add(Heading(40.0, true), 40.0).drop, EDrop::Magnetic);
    // PRDID carries all three: a sample at once.
    Reading prdid = RollPitch(1.0, 2.0);
    prdid.heading = 3.0;
    out = mixed.Add(prdid, 30.0);
    ASSERT_TRUE(out.sample);
    EXPECT_FALSE(out.sample->headingOnly);
    EXPECT_DOUBLE_EQ(out.sample->heading, 3.0);
}

}  // namespace
