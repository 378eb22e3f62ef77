#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteStuffing.h"
#include "PortSettings.h"

using telegrax::CByteStuffedDecoder;
using telegrax::CLineDecoder;

namespace {
std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

std::vector<std::string> Decode(CByteStuffedDecoder& decoder, const std::string& stream) {
    std::vector<std::string> frames;
    decoder.Feed(stream.data(), stream.size(), [&](std::string&& f) { frames.push_back(f); });
    return frames;
}
}  // namespace

TEST(ByteStuffingTest, FramesDoubleEveryDle) {
    std::string out;
    telegrax::StuffFrame(Bytes({0x41, 0x10, 0x42}), out);
    EXPECT_EQ(out, Bytes({0x10, 0x02, 0x41, 0x10, 0x10, 0x42, 0x10, 0x03}));
    out.clear();
    telegrax::StuffFrame("", out);
    EXPECT_EQ(out, Bytes({0x10, 0x02, 0x10, 0x03}));
}

TEST(ByteStuffingTest, WholeFramesComeBackWhereverTheReadsSplitThem) {
    const std::vector<std::string> payloads = {Bytes({0x10}), Bytes({1, 0x10, 0x10, 2, 0x03}),
                                               "plain", Bytes({0x02, 0x10, 0x02})};
    std::string stream;
    for (const std::string& p : payloads) {
        telegrax::StuffFrame(p, stream);
    }
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        CByteStuffedDecoder decoder(1024);
        std::vector<std::string> frames = Decode(decoder, stream.substr(0, cut));
        const std::vector<std::string> rest = Decode(decoder, stream.substr(cut));
        frames.insert(frames.end(), rest.begin(), rest.end());
        EXPECT_EQ(frames, payloads) << "split at " << cut;
    }
    // One byte per read: a DLE at the end of every other read.
    CByteStuffedDecoder decoder(1024);
    std::vector<std::string> frames;
    for (const char c : stream) {
        decoder.Feed(&c, 1, [&](std::string&& f) { frames.push_back(f); });
    }
    EXPECT_EQ(frames, payloads);
    EXPECT_EQ(decoder.Dropped(), 0u);
}

TEST(ByteStuffingTest, GarbageAndBrokenFramesAreSkippedAndTheNextFrameIsFound) {
    CByteStuffedDecoder decoder(1024);
    std::string stream = "noise" + Bytes({0x03, 0x10, 0x03, 0x10, 0x10, 0x02});  // no frame start
    stream += Bytes({0x10, 0x02, 'a', 'b'});                                     // unterminated...
    stream += Bytes({0x10, 0x02, 'o', 'k', 0x10, 0x03});  // ...a new start wins
    stream += Bytes({0x10, 0x02, 'x', 0x10, 0x55, 'y'});  // DLE + junk breaks a frame
    stream += Bytes({0x10, 0x02, 'g', 'o', 0x10, 0x03});
    EXPECT_EQ(Decode(decoder, stream), (std::vector<std::string>{"ok", "go"}));
    EXPECT_EQ(decoder.Dropped(), 2u);
    EXPECT_TRUE(Decode(decoder, Bytes({0x10, 0x02, 'u', 'n'})).empty());  // waits for its end
}

TEST(ByteStuffingTest, AMegabyteWithoutAFrameEndIsDroppedInBoundedMemory) {
    CByteStuffedDecoder decoder(64 * 1024);
    std::string start = Bytes({0x10, 0x02});
    EXPECT_TRUE(Decode(decoder, start).empty());
    const std::string chunk(4096, 'z');
    for (int i = 0; i < 256; ++i) {
        EXPECT_TRUE(Decode(decoder, chunk).empty());
    }
    EXPECT_EQ(decoder.Dropped(), 1u);
    // The tail of the long frame ends with DLE ETX: no phantom frame; the next one is whole.
    std::string next = Bytes({0x10, 0x03, 0x10, 0x02, 'n', 0x10, 0x03});
    EXPECT_EQ(Decode(decoder, next), std::vector<std::string>{"n"});
}

TEST(ByteStuffingTest, TextIsSplitIntoLines) {
    CLineDecoder decoder(16);
    std::vector<std::string> lines;
    const auto take = [&](std::string&& l) { lines.push_back(l); };
    decoder.Feed("$A*00\r\n$B", 9, take);
    decoder.Feed("*11\r\n", 5, take);
    const std::string overlong(40, 'x');
    decoder.Feed(overlong.data(), overlong.size(), take);
    decoder.Feed("\nC\n", 3, take);
    EXPECT_EQ(lines, (std::vector<std::string>{"$A*00\r\n", "$B*11\r\n", "C\n"}));
    EXPECT_EQ(decoder.Dropped(), 1u);
}

TEST(PortSettingsTest, ParsesTheConfigurationLanguage) {
    auto line = telegrax::ParseConfiguration("CONFIG(115200,8,n,1)");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->baud, 115200u);
    EXPECT_EQ(line->dataBits, 8);
    EXPECT_EQ(line->parity, 0);
    EXPECT_EQ(line->stopBits, 0);
    line = telegrax::ParseConfiguration(" config( 4800, 7, E, 1.5 ) ");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->baud, 4800u);
    EXPECT_EQ(line->parity, 2);
    EXPECT_EQ(line->stopBits, 1);
    EXPECT_EQ(telegrax::FormatConfiguration(*line), "CONFIG(4800,7,e,1.5)");
    for (const char* bad :
         {"", "CONFIG()", "CONFIG(0,8,n,1)", "CONFIG(9600,9,n,1)", "CONFIG(9600,8,x,1)",
          "CONFIG(9600,8,n,3)", "CONFIG(9600,8,n)", "CONFIG(-9600,8,n,1)",
          "CONFIG(99999999999,8,n,1)", "SETUP(9600,8,n,1)", "CONFIG(9600,8,n,1"}) {
        EXPECT_FALSE(telegrax::ParseConfiguration(bad)) << bad;
    }
}

TEST(PortSettingsTest, ParsesBothProtocolSpellings) {
    const telegrax::Protocol ascii;
    auto p = telegrax::ParseProtocol("Transmit(ByteStuffed),Receive(ByteStuffed)", ascii);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->transmit, telegrax::EFraming::ByteStuffed);
    EXPECT_EQ(p->receive, telegrax::EFraming::ByteStuffed);
    p = telegrax::ParseProtocol("TRANSMIT(ASCII), RECEIVE(ASCII)", *p);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->transmit, telegrax::EFraming::Ascii);
    EXPECT_EQ(p->receive, telegrax::EFraming::Ascii);
    for (const char* bad : {"", "TRANSMIT(ASCII)x", "SEND(ASCII)", "TRANSMIT(HEX)", "TRANSMIT"}) {
        EXPECT_FALSE(telegrax::ParseProtocol(bad, ascii)) << bad;
    }
}
