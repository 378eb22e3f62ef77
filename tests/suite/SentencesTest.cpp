// The sentences Tavimo writes, from known moments: exact text, the table the outputs and the
// telegram device take them from, and python's pynmea2 (Debian's python3-nmea2) as the
// strict judge of every NMEA sentence, checksum included.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Telegrams.h"
#include "mtobj/sentences/Hdg.h"
#include "mtobj/sentences/Pashr.h"
#include "mtobj/sentences/Rot.h"
#include "mtobj/sentences/SignalK.h"
#include "mtobj/sentences/Xdr.h"

namespace {

using namespace mtobj::telegrams;

// 2026-12-10 07:05:09.123 UTC, a heaving vessel rolled to port-up 3.25°, bow down 2.5°.
const mtobj::Motion kHeave{.heave = -0.153, .status = 'U'};
Moment Sample(const mtobj::Motion* motion = nullptr) {
    return Moment{.time = 1796886309123.0,
                  .roll = 3.25F,
                  .pitch = -2.5F,
                  .trueHeading = 123.45F,
                  .magneticHeading = 125.45F,
                  .variation = 2.0F,
                  .rateOfTurn = -12.5F,
                  .motion = motion};
}

std::string Write(const Sentence& sentence, const Moment& moment) {
    char out[kMaxSentenceLength];
    return {out, sentence.format(out, moment)};
}

TEST(SentencesTest, NewSentencesFromAKnownMoment) {
    EXPECT_EQ(Write(kXDR, Sample()), "$HCXDR,A,-2.50,D,PTCH,A,3.25,D,ROLL*79\r\n");
    EXPECT_EQ(Write(kROT, Sample()), "$HCROT,-12.5,A*36\r\n");
    Moment unknownRate = Sample();
    unknownRate.rateOfTurn.reset();
    EXPECT_EQ(Write(kROT, unknownRate), "$HCROT,,V*14\r\n");
    // The variation is what true heading lacks (2° west): a reader's true heading is HDT's.
    EXPECT_EQ(Write(kHDG, Sample()), "$HCHDG,125.450,,,2.000,W*3e\r\n");
    const ParseResult hdg = ParseLine("$HCHDG,125.450,,,2.000,W*3e");
    ASSERT_TRUE(hdg.reading);
    EXPECT_NEAR(*hdg.reading->heading, 123.45, 1e-9);
    EXPECT_FALSE(hdg.reading->magnetic);
    // PASHR without heave leaves the field empty; with it, signed metres and its status.
    EXPECT_EQ(Write(kPASHR, Sample()), "$PASHR,070509.123,123.45,T,+3.25,-2.50,,,,,0,1*2e\r\n");
    EXPECT_EQ(Write(kPASHR, Sample(&kHeave)),
              "$PASHR,070509.123,123.45,T,+3.25,-2.50,-0.15,,,,0,1*19\r\n");
    const mtobj::Motion settling{.heave = 0.004, .status = 'u'};
    EXPECT_EQ(Write(kPASHR, Sample(&settling)),
              "$PASHR,070509.123,123.45,T,+3.25,-2.50,+0.00,,,,0,0*1a\r\n");
    // Read from another motion sensor: its heave goes on to the motion telegrams; a settling
    // one and Ashtech's other PASHR are not used.
    const ParseResult pashr = ParseLine("$PASHR,070509.123,123.45,T,+3.25,-2.50,-0.15,,,,0,1*19");
    ASSERT_TRUE(pashr.reading && pashr.reading->motion);
    EXPECT_DOUBLE_EQ(pashr.reading->motion->heave, -0.15);
    EXPECT_EQ(ParseLine("$PASHR,070509.123,123.45,T,+3.25,-2.50,+0.00,,,,0,0*1a").drop,
              EDrop::NotValid);
    EXPECT_EQ(ParseLine("$PASHR,POS,0,5,123.4*12").drop, EDrop::Checksum);
    EXPECT_EQ(ParseLine("$PASHR,POS,0,5,123.4").drop, EDrop::Unknown);
    EXPECT_EQ(Write(kSignalK, Sample()),
              R"({"context":"vessels.self","updates":[{"$source":"tavimo",)"
              R"("timestamp":"2026-12-10T07:05:09.123Z","values":[)"
              R"({"path":"navigation.attitude","value":{"roll":0.056723,"pitch":-0.043633,)"
              R"("yaw":2.154609}},{"path":"navigation.headingTrue","value":2.154609},)"
              R"({"path":"navigation.headingMagnetic","value":2.189515},)"
              R"({"path":"navigation.rateOfTurn","value":-0.003636}]}]})"
              "\r\n");
    // A value that is not a number never makes the JSON invalid; no rate, no rate path.
    Moment broken = unknownRate;
    broken.roll = NAN;
    const std::string json = Write(kSignalK, broken);
    EXPECT_NE(json.find(R"("roll":null,)"), std::string::npos) << json;
    EXPECT_EQ(json.find("rateOfTurn"), std::string::npos) << json;
}

// Every output type is made of sentences of the table, its label and file name agree, and
// every sentence of every type fits the room, even with the widest values.
TEST(SentencesTest, EveryOutputTypeComesFromTheTable) {
    const mtobj::Motion wide{.heave = -1e9,
                             .verticalAcceleration = 1e9,
                             .horizontalAcceleration = -1e9,
                             .status = '\x7f'};
    Moment extreme{.time = 1e300,
                   .roll = -1e30F,
                   .pitch = 1e30F,
                   .trueHeading = -1e30F,
                   .magneticHeading = NAN,
                   .variation = 1e30F,
                   .rateOfTurn = -1e30F,
                   .motion = &wide};
    for (int type = 1; type < kOutputTelegramCount; ++type) {
        const auto sentences = telegrams::SentencesOf(type);
        ASSERT_FALSE(sentences.empty()) << g_szOutputTelegramNames[type];
        std::string names;
        for (const Sentence* sentence : sentences) {
            names += (names.empty() ? "" : ",") + std::string(sentence->name);
            EXPECT_LT(Write(*sentence, extreme).size(), kMaxSentenceLength) << sentence->name;
        }
        EXPECT_EQ(names, g_szOutputTelegramNames[type]);
        EXPECT_EQ(telegrams::TypeFromName(names), type);
    }
    EXPECT_EQ(telegrams::Label(TELEGRAM_SIGNALK), "Signal K");
    EXPECT_EQ(telegrams::Label(TELEGRAM_HDT_TSS1), "HDT,TSS1");
    EXPECT_FALSE(telegrams::TypeFromName("HDTT"));
    EXPECT_TRUE(telegrams::SentencesOf(kOutputTelegramCount).empty());
    // What Tavimo writes and also reads comes back as it was written.
    for (const Sentence* sentence : Sentences()) {
        if (sentence->format == nullptr || sentence->parse == nullptr) {
            continue;
        }
        std::string line = Write(*sentence, Sample());
        line.resize(line.size() - 2);
        const ParseResult read = ParseLine(line);
        ASSERT_TRUE(read.reading) << line << ": " << DropName(read.drop);
        if (read.reading->roll) {
            EXPECT_NEAR(*read.reading->roll, 3.25, 0.01) << line;
            EXPECT_NEAR(*read.reading->pitch, -2.5, 0.01) << line;
        }
    }
}

// pynmea2 parses every NMEA sentence Tavimo writes with its checksum checked, and reads the
// values back.
TEST(SentencesTest, Pynmea2ParsesEverySentenceStrictly) {
    const char* python = "/usr/bin/python3";
    if (std::system("/usr/bin/python3 -c 'import pynmea2' 2>/dev/null") != 0) {
        GTEST_SKIP() << "python3-nmea2 is missing: scripts/install-deps.sh installs it";
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tavimo-pynmea2-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    {
        std::ofstream lines(folder / "lines");
        for (const Sentence* sentence : {&kHDT, &kHDM, &kHDG, &kPRDID, &kXDR, &kROT, &kPASHR}) {
            lines << Write(*sentence, Sample(&kHeave));
        }
        std::ofstream script(folder / "judge.py");
        script << "import sys, pynmea2\n"
                  "for line in open(sys.argv[1]):\n"
                  "    m = pynmea2.parse(line.strip(), check=True)\n"
                  "    print(type(m).__name__, *m.data)\n";
    }
    const std::string command = std::string(python) + " " + (folder / "judge.py").string() + " " +
                                (folder / "lines").string() + " 2>&1";
    std::string said;
    if (FILE* out = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof(buffer), out) != nullptr) {
            said += buffer;
        }
        EXPECT_EQ(pclose(out), 0) << said;
    }
    std::filesystem::remove_all(folder);
    for (const char* expected :
         {"HDT 123.450 T", "HDM 125.450 M", "HDG 125.450   2.000 W",
          "XDR A -2.50 D PTCH A 3.25 D ROLL", "ROT -12.5 A",
          "ASHRATT R 070509.123 123.45 T +3.25 -2.50 -0.15    0 1", "RDID D   -2.500    3.250"}) {
        EXPECT_NE(said.find(expected), std::string::npos) << expected << "\n" << said;
    }
}

}  // namespace
