// The user's folders and environment: the only place that reads them from the process.
#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

bool MakeFolders(const std::string& path, std::string* why) {
    return MakePrivateFolders(path, PrivateTemporaryFolder(), why);
}

bool MakePrivateFolders(const std::string& path, const std::string& sharedRoot, std::string* why) {
    const auto refuse = [why](const std::string& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return false;
    };
    if (path.empty()) {
        return refuse("no folder was named");
    }
    const bool underShared =
        !sharedRoot.empty() && (path == sharedRoot || path.rfind(sharedRoot + "/", 0) == 0);
    for (std::size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string part = pos == std::string::npos ? path : path.substr(0, pos);
        if (part.empty() || part.back() == '/') {
            if (pos == std::string::npos) {
                break;
            }
            continue;
        }
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return refuse(part + ": " + std::strerror(errno));
        }
        if (underShared && part.size() >= sharedRoot.size()) {
            // Anyone may have made this name first in a shared place: only a folder that is
            // ours alone, checked on the opened folder and never through a link, is used.
            const int fd = ::open(part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                const int error = errno;
                struct stat entry {};
                const bool link = ::lstat(part.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode);
                return refuse(part + " is not a folder of this user's (" +
                              (link ? std::string("a link") : std::strerror(error)) + ")");
            }
            struct stat info {};
            const bool ours = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid();
            const bool privateMode = ours && ((info.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
            ::close(fd);
            if (!ours) {
                return refuse(part + " belongs to another user (uid " +
                              std::to_string(info.st_uid) + ")");
            }
            if (!privateMode) {
                return refuse(part + " cannot be made private (" + std::strerror(errno) + ")");
            }
        }
        if (pos == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return refuse(path + " is not a folder");
    }
    return true;
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
