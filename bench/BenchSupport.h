// What the benchmark programs share: a private environment for their ports and a bounded
// blocking read of a reader's bytes.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>

namespace bench {

// A private runtime folder, registry and state folder, so the benchmark's ports are its own.
inline void PrivateEnvironment() {
    static const bool done = [] {
        char pattern[] = "/tmp/tavimo-bench-XXXXXX";
        const std::string root = mkdtemp(pattern);
        std::filesystem::create_directories(root + "/runtime");
        setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        setenv("TAVIMO_REGISTRY", (root + "/registry.sqlite3").c_str(), 1);
        setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
        return true;
    }();
    (void)done;
}

// Reads until n bytes have come; false when a wait of 10 s passes or the reader fails.
inline bool ReadExactly(int fd, std::size_t n) {
    char buffer[256];
    std::size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) {
            return false;
        }
        const ssize_t r = ::read(fd, buffer, std::min(sizeof(buffer), n - got));
        if (r <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace bench
