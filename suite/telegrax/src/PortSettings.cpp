#include "PortSettings.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace telegrax {
namespace {

// Upper case without spaces: the language ignores both.
std::string Normalise(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

bool ParseUnsigned(const std::string& text, unsigned long maxValue, unsigned long& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= maxValue;
}

std::optional<EFraming> ParseFraming(const std::string& text) {
    if (text == "ASCII") {
        return EFraming::Ascii;
    }
    if (text == "BYTESTUFFED") {
        return EFraming::ByteStuffed;
    }
    return std::nullopt;
}

}  // namespace

std::optional<comlane::LineSettings> ParseConfiguration(const std::string& text) {
    const std::string s = Normalise(text);
    const std::string head = "CONFIG(";
    if (s.size() < head.size() + 1 || s.compare(0, head.size(), head) != 0 || s.back() != ')') {
        return std::nullopt;
    }
    const std::vector<std::string> fields =
        Split(s.substr(head.size(), s.size() - head.size() - 1), ',');
    if (fields.size() != 4) {
        return std::nullopt;
    }
    comlane::LineSettings line;
    unsigned long baud = 0;
    unsigned long bits = 0;
    if (!ParseUnsigned(fields[0], 4000000, baud) || baud == 0 ||
        !ParseUnsigned(fields[1], 8, bits) || bits < 5) {
        return std::nullopt;
    }
    line.baud = static_cast<unsigned>(baud);
    line.dataBits = static_cast<int>(bits);
    const std::string parities = "NOEMS";
    if (fields[2].size() != 1 || parities.find(fields[2][0]) == std::string::npos) {
        return std::nullopt;
    }
    line.parity = static_cast<int>(parities.find(fields[2][0]));
    if (fields[3] == "1") {
        line.stopBits = 0;
    } else if (fields[3] == "1.5") {
        line.stopBits = 1;
    } else if (fields[3] == "2") {
        line.stopBits = 2;
    } else {
        return std::nullopt;
    }
    return line;
}

std::string FormatConfiguration(const comlane::LineSettings& line) {
    static const char* const parities[] = {"n", "o", "e", "m", "s"};
    static const char* const stops[] = {"1", "1.5", "2"};
    return "CONFIG(" + std::to_string(line.baud) + "," + std::to_string(line.dataBits) + "," +
           parities[line.parity >= 0 && line.parity <= 4 ? line.parity : 0] + "," +
           stops[line.stopBits >= 0 && line.stopBits <= 2 ? line.stopBits : 0] + ")";
}

std::optional<Protocol> ParseProtocol(const std::string& text, const Protocol& current) {
    const std::string s = Normalise(text);
    if (s.empty()) {
        return std::nullopt;
    }
    Protocol protocol = current;
    for (const std::string& part : Split(s, ',')) {
        const std::size_t open = part.find('(');
        if (open == std::string::npos || part.back() != ')') {
            return std::nullopt;
        }
        const std::string direction = part.substr(0, open);
        const auto framing = ParseFraming(part.substr(open + 1, part.size() - open - 2));
        if (!framing) {
            return std::nullopt;
        }
        if (direction == "TRANSMIT") {
            protocol.transmit = *framing;
        } else if (direction == "RECEIVE") {
            protocol.receive = *framing;
        } else {
            return std::nullopt;
        }
    }
    return protocol;
}

std::string FormatProtocol(const Protocol& protocol) {
    const auto name = [](EFraming f) { return f == EFraming::Ascii ? "ASCII" : "ByteStuffed"; };
    return std::string("Transmit(") + name(protocol.transmit) + "),Receive(" +
           name(protocol.receive) + ")";
}

}  // namespace telegrax
