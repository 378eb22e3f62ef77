// The broker's configuration language.
#pragma once

#include <optional>
#include <string>

#include "comlane/SerialDevice.h"

namespace telegrax {

enum class EFraming { Ascii, ByteStuffed };

struct Protocol {
    EFraming transmit = EFraming::Ascii;
    EFraming receive = EFraming::Ascii;
};

// "CONFIG(115200,8,n,1)": baud, data bits 5..8, parity n/o/e/m/s, stop bits 1, 1.5 or 2.
// Case and spaces do not matter. Nothing when the text does not parse.
std::optional<comlane::LineSettings> ParseConfiguration(const std::string& text);
std::string FormatConfiguration(const comlane::LineSettings& line);

// "TRANSMIT(ASCII), RECEIVE(ASCII)", "Transmit(ByteStuffed),Receive(ByteStuffed)": either
// part may be left out (it then keeps the current framing). Nothing when it does not parse.
std::optional<Protocol> ParseProtocol(const std::string& text, const Protocol& current);
std::string FormatProtocol(const Protocol& protocol);

}  // namespace telegrax
