// What the benchmark programs share: a private registry, runtime, state, data and
// configuration folder, so their sensor settings and virtual ports are their own, removed
// at exit; and the median and 99th percentile of measured latencies.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tavimo_bench {

// Call before anything reads the environment (a namespace-scope initialiser does).
inline bool PrivateEnvironment(const char* name) {
    std::string pattern = std::string("/tmp/tavimo-") + name + "-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    const std::string root = made != nullptr ? made : "/tmp";
    for (const char* sub : {"runtime", "state", "data", "config"}) {
        std::filesystem::create_directories(root + "/" + sub);
    }
    std::filesystem::permissions(root + "/runtime", std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("TAVIMO_REGISTRY", (root + "/config/registry.sqlite3").c_str(), 1);
    static const std::string removeAtExit = root;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(removeAtExit, ec);
    });
    return true;
}

// The value below which `fraction` of the samples lie (sorts them).
inline double Percentile(std::vector<double>& samples, double fraction) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(samples.size()));
    return samples[std::min(at, samples.size() - 1)];
}

}  // namespace tavimo_bench
