#include "FuzzSupport.h"

#include <cstdlib>
#include <filesystem>

namespace tavimo_fuzz {
std::string PrivateHome() {
    char pattern[] = "/tmp/tavimo-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    const std::string root = made != nullptr ? made : "/tmp";
    for (const char* folder : {"config", "data", "state", "runtime"}) {
        std::filesystem::create_directories(root + "/" + folder);
    }
    ::setenv("HOME", root.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    ::setenv("TAVIMO_REGISTRY", (root + "/registry.sqlite3").c_str(), 1);
    return root;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces(1);
    for (char c : text) {
        if (c == separator) {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return pieces;
}
}  // namespace tavimo_fuzz
