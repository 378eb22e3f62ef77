// One telegram for the port broker: built on the caller's stack, filled and handed to a
// port's SendTelegram, or default-constructed and filled by ReceiveTelegram.
#pragma once

#include <string>

enum ETelegramType : int {
    eTelegramNone = 0,    // a telegram to receive into
    eTelegramAscii = 1,   // text, sent as it stands
    eTelegramBinary = 2,  // bytes
};

class CTelegram {
public:
    CTelegram() = default;
    explicit CTelegram(ETelegramType type) : m_eType(type) {}
    virtual ~CTelegram() = default;

    ETelegramType GetType() const { return m_eType; }
    const std::string& GetText() const { return m_sText; }
    void SetText(std::string text) { m_sText = std::move(text); }
    void SetText(const char* data, std::size_t length) { m_sText.assign(data, length); }

    ETelegramType m_eType = eTelegramNone;
    std::string m_sText;  // the payload: text or bytes
};
