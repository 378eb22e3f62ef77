// Every test process runs in a home of its own: registry, state, data, runtime and
// configuration folders under a fresh temporary directory, removed at exit.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"

namespace tavimo_test {
// Defined before the environment below, whose constructor sets it during static
// initialisation: defined after it, it was constructed again afterwards (empty, leaking).
std::string g_root;
}  // namespace tavimo_test

namespace {
class TavimoTestEnvironment : public ::testing::Environment {
public:
    TavimoTestEnvironment() {
        char pattern[] = "/tmp/tavimo-test-XXXXXX";
        const char* dir = mkdtemp(pattern);
        m_root = dir != nullptr ? dir : "/tmp/tavimo-test";
        for (const char* sub : {"config", "state", "data", "runtime", "home"}) {
            std::filesystem::create_directories(m_root + "/" + sub);
        }
        std::filesystem::permissions(m_root + "/runtime", std::filesystem::perms::owner_all);
        setenv("HOME", (m_root + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root + "/config").c_str(), 1);
        setenv("XDG_STATE_HOME", (m_root + "/state").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_root + "/data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_root + "/runtime").c_str(), 1);
        setenv("TAVIMO_REGISTRY", (m_root + "/config/registry.sqlite3").c_str(), 1);
        if (getenv("QT_QPA_PLATFORM") == nullptr) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        tavimo_test::g_root = m_root;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

private:
    std::string m_root;
};

// Registered during static initialisation, before any code reads the environment.
[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new TavimoTestEnvironment);
}  // namespace

namespace tavimo_test {
std::string TempRoot() {
    return g_root;
}

std::string OutputDir() {
    const char* env = getenv("TAVIMO_TEST_OUTPUT");
    std::string dir = env != nullptr ? env : g_root + "/output";
    std::filesystem::create_directories(dir);
    return dir;
}

std::filesystem::path TestFolder() {
    const std::filesystem::path folder =
        std::filesystem::path(g_root) /
        ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

namespace {
void Put(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}
}  // namespace

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name) {
    if (const char* old = getenv(name); old != nullptr) {
        m_saved = old;
    }
    Put(m_name, value);
}

ScopedEnv::~ScopedEnv() {
    Put(m_name, m_saved);
}
}  // namespace tavimo_test
