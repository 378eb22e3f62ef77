// Byte-stuffed framing of the binary ports:
//
//   DLE STX <payload, every DLE sent as DLE DLE> DLE ETX
//   0x10 0x02  ...                               0x10 0x03
//
// The decoder takes the stream in whatever pieces the line delivers and gives back whole
// frames only. Bytes outside a frame are ignored; DLE STX inside a frame starts the frame
// afresh; DLE followed by anything but DLE, STX or ETX drops the frame; a frame longer
// than the limit is dropped, and the decoder waits for the next DLE STX.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace telegrax {

constexpr unsigned char DLE = 0x10;
constexpr unsigned char STX = 0x02;
constexpr unsigned char ETX = 0x03;

// Appends the framed payload to out.
void StuffFrame(const std::string& payload, std::string& out);

class CByteStuffedDecoder {
public:
    explicit CByteStuffedDecoder(std::size_t maxFrame) : m_maxFrame(maxFrame) {}
    // Feeds received bytes; calls onFrame once for every whole frame, in order.
    void Feed(const char* data, std::size_t length,
              const std::function<void(std::string&&)>& onFrame);
    // Frames dropped (broken or too long) so far.
    unsigned long Dropped() const { return m_dropped; }

private:
    enum class State { Idle, IdleDle, InFrame, InFrameDle };
    void Drop();

    std::size_t m_maxFrame;
    State m_state = State::Idle;
    std::string m_frame;
    unsigned long m_dropped = 0;
};

// Splits received text into lines ending in LF (the LF kept); an overlong line is dropped.
class CLineDecoder {
public:
    explicit CLineDecoder(std::size_t maxLine) : m_maxLine(maxLine) {}
    void Feed(const char* data, std::size_t length,
              const std::function<void(std::string&&)>& onLine);
    unsigned long Dropped() const { return m_dropped; }

private:
    std::size_t m_maxLine;
    std::string m_line;
    bool m_skipping = false;
    unsigned long m_dropped = 0;
};

}  // namespace telegrax
