// The user's folders and environment: the only place that reads them from the process.
#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

constexpr const char* kProgramFolder = "tavimo";

// An absolute path from the environment, else nothing (empty and relative values are
// ignored, as the base directory rules ask).
std::optional<std::string> AbsoluteFromEnvironment(const char* name) {
    std::optional<std::string> value = EnvironmentValue(name);
    if (value && !value->empty() && value->front() == '/') {
        return value;
    }
    return std::nullopt;
}

// The user's private folder when nothing better exists: it names the user, so that two
// users of one machine never share it.
std::string PrivateTemporaryFolder() {
    return std::string("/tmp/") + kProgramFolder + "-" + std::to_string(::getuid());
}

std::string UserFolder(const char* variable, const char* underHome, const char* withoutHome) {
    if (const auto base = AbsoluteFromEnvironment(variable)) {
        return *base + "/" + kProgramFolder;
    }
    if (const auto home = AbsoluteFromEnvironment("HOME")) {
        return *home + "/" + underHome + "/" + kProgramFolder;
    }
    return PrivateTemporaryFolder() + "/" + withoutHome;
}

}  // namespace

std::string ConfigFolder() {
    return UserFolder("XDG_CONFIG_HOME", ".config", "config");
}

std::string DataFolder() {
    return UserFolder("XDG_DATA_HOME", ".local/share", "data");
}

std::string StateFolder() {
    return UserFolder("XDG_STATE_HOME", ".local/state", "state");
}

std::string RuntimeFolder() {
    if (const auto base = AbsoluteFromEnvironment("XDG_RUNTIME_DIR")) {
        return *base + "/" + kProgramFolder;
    }
    return PrivateTemporaryFolder();
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1)) {
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    struct stat info {};
    return (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) &&
           ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> EnvironmentValue(const char* name) {
    if (const char* value = std::getenv(name); value != nullptr) {
        return std::string(value);
    }
    return std::nullopt;
}

void SetEnvironmentValue(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

bool EnvironmentSwitch(const char* name) {
    return EnvironmentValue(name) == "1";
}

}  // namespace platform
