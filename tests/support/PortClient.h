// A serial client on the far side of a port: a virtual port's published link, or any
// tty device. Tests read what a port sends and write what a port should receive; every
// wait is bounded.
#pragma once

#include <cstddef>
#include <string>

namespace tavimo_test {

class PortClient {
public:
    static constexpr int kBoundMs = 10000;

    // Opens the path at once; IsOpen() tells whether it worked. Raw mode turns the line
    // discipline off, so every byte passes as it is.
    explicit PortClient(std::string path, bool raw = false);
    ~PortClient();
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    // Tries again until the port exists (its worker makes it on its first pass), for at
    // most timeoutMs.
    bool Open(int timeoutMs = kBoundMs);
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }

    // Reads until n bytes came or nothing came for timeoutMs.
    std::string Read(std::size_t n, int timeoutMs = kBoundMs);
    // What is there now, waiting at most timeoutMs for the first bytes.
    std::string ReadAvailable(int timeoutMs);
    // The next complete line (without CR LF), or empty after timeoutMs without one.
    std::string NextLine(int timeoutMs = kBoundMs);
    // Writes everything, waiting for room as the port reads; false when the port has gone
    // or did not take it all within timeoutMs.
    bool Write(const std::string& bytes, int timeoutMs = kBoundMs);
    // Bytes waiting to be read (-1 when not known).
    int Waiting() const;

private:
    std::string m_path;
    bool m_raw;
    int m_fd = -1;
    std::string m_pending;  // read past the last line NextLine returned
};

}  // namespace tavimo_test
