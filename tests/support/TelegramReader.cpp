#include "TelegramReader.h"

#include <chrono>
#include <cstdio>
#include <regex>

TelegramReader::TelegramReader(const std::string& link) : m_port(link, true) {}

TelegramReader::~TelegramReader() = default;

bool TelegramReader::IsWellFormed(const std::string& line) {
    if (line.size() < 3 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
        return false;
    }
    const std::string body = line.substr(0, line.size() - 2);
    if (body[0] == '$') {
        const std::size_t star = body.find('*');
        if (star == std::string::npos || star + 3 != body.size()) {
            return false;
        }
        unsigned sum = 0;
        for (std::size_t i = 1; i < star; ++i) {
            sum ^= static_cast<unsigned char>(body[i]);
        }
        char expected[3];
        std::snprintf(expected, sizeof expected, "%2.2x", sum);
        static const std::regex kNmea(
            R"(\$(HCHDT,\d{3}\.\d{3},T|HCHDM,\d{3}\.\d{3},M|PRDID,( {0,3}-?\d+\.\d{3},){2} {0,3}-?\d+\.\d{3})\*[0-9a-f]{2})");
        return body.compare(star + 1, 2, expected) == 0 && std::regex_match(body, kNmea);
    }
    static const std::regex kTss(R"(:(000000|\d{5}) {2}0000U[ -]\d{4,5} [ -]\d{4,5}F?)");
    return std::regex_match(body, kTss);
}

void TelegramReader::Take(const char* data, std::size_t size) {
    m_pending.append(data, size);
    for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
        const std::string line = m_pending.substr(0, end + 1);
        m_pending.erase(0, end + 1);
        if (!m_synced) {
            m_synced = true;
            continue;
        }
        if (IsWellFormed(line)) {
            ++m_valid;
        } else {
            ++m_malformed;
            if (m_firstBad.empty()) {
                m_firstBad = line;
            }
        }
    }
}

void TelegramReader::ReadAvailable(int timeoutMs) {
    const std::string bytes = m_port.ReadAvailable(timeoutMs);
    Take(bytes.data(), bytes.size());
}

bool TelegramReader::ReadValid(long count, int timeoutMs) {
    const long target = m_valid + count;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (IsOpen() && m_valid < target && m_malformed == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        ReadAvailable(static_cast<int>(left));
    }
    return m_valid >= target && m_malformed == 0;
}

std::string TelegramReader::Report() const {
    return m_port.Path() + (!IsOpen() ? " (not open)" : "") + ": " + std::to_string(m_valid) +
           " valid, " + std::to_string(m_malformed) + " malformed" +
           (m_firstBad.empty() ? std::string() : ", first bad: \"" + m_firstBad + "\"");
}
