// Saving a whole file so that a crash, a full disc or a power cut never leaves half of it:
// the content goes to a temporary file in the target's folder, is flushed to the disc,
// optionally checked by the caller, and then takes the target's place in one rename; the
// folder is flushed too, so the new name survives a power cut. The old file stays whole
// until the new one is complete. A link is followed: the link stays, its target changes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class SaveError {
    None,
    ReadOnly,     // the target exists without write permission (refused even for root)
    NotAFile,     // the target exists and is no regular file (a folder, a pipe, a device)
    Exists,       // the target exists and the caller asked never to replace a file
    CheckFailed,  // the caller's check of the written file said no
    Write,        // the caller's writer failed
    System,       // the OS refused a step (errno in osError)
};

struct SaveResult {
    SaveError error = SaveError::None;
    int osError = 0;
    std::string target;  // the file that was (or would have been) replaced
    explicit operator bool() const { return error == SaveError::None; }
    // Why the save failed, for a trace line ("read-only", the OS's message, ...).
    std::string Describe() const;
};

struct SaveOptions {
    // Runs on the complete temporary file before it takes the target's place; false
    // abandons the save and leaves the target as it was.
    std::function<bool(const std::string& writtenPath)> check = nullptr;
    // False: a file that exists (or appears meanwhile) is never replaced.
    bool replace = true;
    // Permissions of a new file (a replaced file keeps its own).
    unsigned newFileMode = 0644;
};

// Writes the file through the writer, which gets the temporary file's descriptor and
// returns false when it could not write everything.
SaveResult SaveFile(const std::string& path, const std::function<bool(int fd)>& writer,
                    const SaveOptions& options = {});
// Writes the text as the file's whole content.
SaveResult SaveFile(const std::string& path, std::string_view text,
                    const SaveOptions& options = {});

// The whole content of a regular file of at most maxBytes; nothing for a missing or
// unreadable file, a folder, a pipe or a device (which could block or never end), and a
// file beyond the limit; then *error, when given, says why in words a user reads.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string* error = nullptr);

// A regular file opened for reading as a stream, for files too large to read whole; the
// same refusals as ReadRegularFile (checked on the opened file, so a pipe never blocks the
// open), with *error saying why. The caller closes it with std::fclose.
std::FILE* OpenRegularFile(const std::string& path, std::string* error = nullptr);

}  // namespace platform
