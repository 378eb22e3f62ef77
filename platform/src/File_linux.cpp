// Safe whole-file saves on POSIX: mkstemp beside the target, fsync, rename (or link when
// nothing may be replaced), fsync of the folder.
#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>

namespace platform {
namespace {

// The file a save replaces: a link is followed, so the link stays and its target changes.
std::filesystem::path SaveTarget(const std::string& path) {
    std::error_code ec;
    std::filesystem::path target(path);
    if (std::filesystem::is_symlink(target, ec)) {
        auto resolved = std::filesystem::canonical(target, ec);
        if (!ec) {
            return resolved;
        }
    }
    return target;
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void SyncFolder(const std::filesystem::path& folder) {
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// Removes what an earlier save of the same file left behind when it was killed before its
// rename: ".<name>.XXXXXX" beside it, a regular file of ours (never a link) untouched for a
// minute, so a save another process is making now keeps its temporary file.
void RemoveStaleTemporaries(const std::filesystem::path& folder, const std::string& name) {
    constexpr time_t kStaleSeconds = 60;
    const std::string prefix = "." + name + ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (dir < 0) {
        return;
    }
    std::error_code ec;
    const time_t now = ::time(nullptr);
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.size() != prefix.size() + 6 || file.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        struct stat info {};
        if (::fstatat(dir, file.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            now - info.st_mtime > kStaleSeconds) {
            ::unlinkat(dir, file.c_str(), 0);
        }
    }
    ::close(dir);
}

}  // namespace

std::string SaveResult::Describe() const {
    switch (error) {
        case SaveError::None:
            return "saved";
        case SaveError::ReadOnly:
            return "read-only";
        case SaveError::NotAFile:
            return "not a regular file";
        case SaveError::Exists:
            return "exists already";
        case SaveError::CheckFailed:
            return "the written file did not pass its check";
        case SaveError::Write:
            return osError != 0 ? std::strerror(osError) : "the content could not be written";
        case SaveError::System:
            break;
    }
    return std::strerror(osError != 0 ? osError : EIO);
}

SaveResult SaveFile(const std::string& path, const std::function<bool(int fd)>& writer,
                    const SaveOptions& options) {
    SaveResult result;
    const std::filesystem::path target = SaveTarget(path);
    result.target = target.string();
    const auto fail = [&result](SaveError error, int osError = 0) {
        result.error = error;
        result.osError = osError;
        return result;
    };
    if (path.empty()) {
        return fail(SaveError::System, ENOENT);
    }
    auto mode = static_cast<mode_t>(options.newFileMode & 07777);
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            return fail(SaveError::NotAFile);
        }
        if (!options.replace) {
            return fail(SaveError::Exists, EEXIST);
        }
        if ((info.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            return fail(SaveError::ReadOnly, EACCES);
        }
        mode = info.st_mode & 07777;
    }
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    RemoveStaleTemporaries(folder, target.filename().string());
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return fail(SaveError::System, errno);
    }
    errno = 0;
    const bool written = writer(fd);
    int error = errno;
    bool synced = written && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (written && !synced) {
        error = errno;
    }
    if (::close(fd) != 0 && synced) {
        synced = false;
        error = errno;
    }
    const auto abandon = [&](SaveError why, int osError) {
        ::unlink(temp.c_str());
        return fail(why, osError);
    };
    if (!written) {
        return abandon(SaveError::Write, error);
    }
    if (!synced) {
        return abandon(SaveError::System, error);
    }
    if (options.check && !options.check(temp)) {
        return abandon(SaveError::CheckFailed, 0);
    }
    if (options.replace) {
        if (::rename(temp.c_str(), target.c_str()) != 0) {
            return abandon(SaveError::System, errno);
        }
    } else {
        // A hard link never replaces a file that appeared meanwhile.
        const bool linked = ::link(temp.c_str(), target.c_str()) == 0;
        error = errno;
        ::unlink(temp.c_str());
        if (!linked) {
            return fail(error == EEXIST ? SaveError::Exists : SaveError::System, error);
        }
    }
    SyncFolder(folder);
    return result;
}

SaveResult SaveFile(const std::string& path, std::string_view text, const SaveOptions& options) {
    return SaveFile(
        path, [text](int fd) { return WriteAll(fd, text); }, options);
}

namespace {

// A regular file opened for reading, or -1 with why. Non-blocking, so that opening a pipe
// nobody writes returns at once; the type is checked on the open file, so it cannot change
// between the check and the read.
int OpenRegular(const std::string& path, struct stat& info, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    const bool stated = ::fstat(fd, &info) == 0;
    if (stated && !S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (stated && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) {
        return fd;
    } else {
        why = std::strerror(errno);
    }
    ::close(fd);
    return -1;
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, std::string* error) {
    struct stat info {};
    std::string why;
    const int fd = OpenRegular(path, info, why);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (fd >= 0 && file == nullptr) {
        why = std::strerror(errno);
        ::close(fd);
    }
    if (file == nullptr && error != nullptr) {
        *error = why;
    }
    return file;
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string* error) {
    std::string why;
    struct stat info {};
    const int fd = OpenRegular(path, info, why);
    if (fd < 0) {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    }
    std::optional<std::string> content;
    if (info.st_size < 0 || static_cast<std::size_t>(info.st_size) > maxBytes) {
        why = "larger than " + std::to_string(maxBytes) + " bytes";
    } else {
        std::string text;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                why = std::strerror(errno);
                break;
            }
            if (text.size() + static_cast<std::size_t>(n) > maxBytes) {
                why = "larger than " + std::to_string(maxBytes) + " bytes";  // it grew
                break;
            }
            if (n == 0) {
                content = std::move(text);
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (!content && error != nullptr) {
        *error = why;
    }
    return content;
}

}  // namespace platform
