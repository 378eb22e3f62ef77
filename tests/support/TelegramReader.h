// Reads the telegrams of a virtual output port (its link in the ports folder) and checks
// each one's format: NMEA sentences by their checksum, TSS1/TSS2 by their fixed layout.
#pragma once

#include <cstddef>
#include <string>

#include "PortClient.h"

class TelegramReader {
public:
    explicit TelegramReader(const std::string& link);
    ~TelegramReader();
    TelegramReader(const TelegramReader&) = delete;
    TelegramReader& operator=(const TelegramReader&) = delete;

    bool IsOpen() const { return m_port.IsOpen(); }
    // Reads until `count` more well-formed telegrams came or the time is up; true when
    // they came and none was malformed.
    bool ReadValid(long count, int timeoutMs);
    // Reads what is there now (waiting at most timeoutMs for the first bytes).
    void ReadAvailable(int timeoutMs);
    long Valid() const { return m_valid; }
    long Malformed() const { return m_malformed; }
    // Lines skipped: the first one, which may have been joined mid-way.
    long Skipped() const { return m_synced ? 1 : 0; }
    std::string Report() const;

    // Whether one line (CR LF included) is a well-formed telegram of ours.
    static bool IsWellFormed(const std::string& line);

private:
    void Take(const char* data, std::size_t size);

    tavimo_test::PortClient m_port;
    std::string m_pending;
    bool m_synced = false;  // the first, possibly partial, line is skipped
    long m_valid = 0;
    long m_malformed = 0;
    std::string m_firstBad;
};
