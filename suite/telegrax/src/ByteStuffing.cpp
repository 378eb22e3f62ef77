#include "ByteStuffing.h"

namespace telegrax {

void StuffFrame(const std::string& payload, std::string& out) {
    out.reserve(out.size() + payload.size() + 4);
    out.push_back(static_cast<char>(DLE));
    out.push_back(static_cast<char>(STX));
    for (const char c : payload) {
        out.push_back(c);
        if (static_cast<unsigned char>(c) == DLE) {
            out.push_back(c);
        }
    }
    out.push_back(static_cast<char>(DLE));
    out.push_back(static_cast<char>(ETX));
}

void CByteStuffedDecoder::Drop() {
    ++m_dropped;
    m_frame.clear();
    m_frame.shrink_to_fit();
}

void CByteStuffedDecoder::Feed(const char* data, std::size_t length,
                               const std::function<void(std::string&&)>& onFrame) {
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        switch (m_state) {
            case State::Idle:
                if (c == DLE) {
                    m_state = State::IdleDle;
                }
                break;
            case State::IdleDle:
                // Only DLE STX starts a frame; a doubled DLE of a dropped frame's rest is skipped.
                if (c == STX) {
                    m_frame.clear();
                    m_state = State::InFrame;
                } else {
                    m_state = State::Idle;
                }
                break;
            case State::InFrame:
                if (c == DLE) {
                    m_state = State::InFrameDle;
                } else if (m_frame.size() >= m_maxFrame) {
                    Drop();
                    m_state = State::Idle;
                } else {
                    m_frame.push_back(static_cast<char>(c));
                }
                break;
            case State::InFrameDle:
                if (c == DLE) {
                    if (m_frame.size() >= m_maxFrame) {
                        Drop();
                        m_state = State::Idle;
                    } else {
                        m_frame.push_back(static_cast<char>(c));
                        m_state = State::InFrame;
                    }
                } else if (c == ETX) {
                    onFrame(std::move(m_frame));
                    m_frame.clear();
                    m_state = State::Idle;
                } else if (c == STX) {
                    Drop();  // a new frame began before this one ended
                    m_state = State::InFrame;
                } else {
                    Drop();
                    m_state = State::Idle;
                }
                break;
        }
    }
}

void CLineDecoder::Feed(const char* data, std::size_t length,
                        const std::function<void(std::string&&)>& onLine) {
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (m_skipping) {
            m_skipping = c != '\n';
            continue;
        }
        m_line.push_back(c);
        if (c == '\n') {
            onLine(std::move(m_line));
            m_line.clear();
        } else if (m_line.size() >= m_maxLine) {
            ++m_dropped;
            m_line.clear();
            m_skipping = true;
        }
    }
}

}  // namespace telegrax
