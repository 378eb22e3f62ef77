// What every test process shares: a private home under a temporary folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tavimo_test {
extern std::string g_root;
// The private temporary home of this test process.
std::string TempRoot();
// A folder for artefacts a person looks at (screenshots, reports).
std::string OutputDir();
// A fresh, empty folder of the running test's own (named for it) in the private home.
std::filesystem::path TestFolder();
// A file's whole content (empty when it cannot be read), and a file written whole.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// Sets (or, with nothing, unsets) an environment variable for one scope and puts the old
// value back when it ends.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_saved;
};
}  // namespace tavimo_test
