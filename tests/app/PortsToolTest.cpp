// tavimo-ports maps names to network targets: well-formed ones go into the map, malformed
// ones are refused with the reason and leave the map as it was.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "comlane/SerialDevice.h"

namespace {

struct Result {
    int status = -1;
    std::string output;  // standard output and standard error together
};

Result Tool(const std::string& arguments) {
    Result result;
    const std::string command = std::string(TAVIMO_PORTS_BINARY) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) {
        result.output += buffer;
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(PortsToolTest, NetworkTargetsAreMappedAndListed) {
    EXPECT_EQ(Tool("map COM5 udp:127.0.0.1:10110").status, 0);
    EXPECT_EQ(Tool("map COM6 'udp:239.192.0.1:10110?ttl=2&if=lo'").status, 0);
    EXPECT_EQ(Tool("map COM7 tcp:127.0.0.1:10110").status, 0);
    EXPECT_EQ(comlane::CPortMap::Lookup("COM6"), "udp:239.192.0.1:10110?ttl=2&if=lo");
    const Result list = Tool("list");
    EXPECT_NE(list.output.find("COM5     udp:127.0.0.1:10110"), std::string::npos) << list.output;
    // The simulated sensor reads no line: no link appears for its port, and the list says so.
    EXPECT_NE(list.output.find("COM1     the simulated sensor's port (no link appears)"),
              std::string::npos)
        << list.output;
    EXPECT_NE(list.output.find("COM7     tcp:127.0.0.1:10110"), std::string::npos) << list.output;
    for (const char* name : {"COM5", "COM6", "COM7"}) {
        EXPECT_EQ(Tool(std::string("unmap ") + name).status, 0);
    }
}

TEST(PortsToolTest, MalformedTargetsAreRefusedWithTheReasonAndChangeNothing) {
    ASSERT_EQ(Tool("map COM8 pty").status, 0);
    const std::pair<const char*, const char*> cases[] = {
        {"udp:10110", "HOST:PORT"},
        {"udp:127.0.0.1:70000", "1 to 65535"},
        {"tcp:0", "fixed port"},
        {"'udp:239.1.1.1:10110?hops=3'", "unknown option"},
        {"ftp:host:21", "neither the path of a terminal"},
    };
    for (const auto& [target, reason] : cases) {
        const Result r = Tool(std::string("map COM8 ") + target);
        EXPECT_EQ(r.status, 2) << target;
        EXPECT_NE(r.output.find(reason), std::string::npos) << target << ": " << r.output;
    }
    EXPECT_EQ(comlane::CPortMap::Lookup("COM8"), "pty");
    Tool("unmap COM8");
}

// A target that is not a terminal is refused, one not there yet is taken with a warning,
// any terminal is taken wherever its link is (a crew's socat bridge), and a change of
// target or a sensor port without a line is said.
TEST(PortsToolTest, OnlyTerminalsAreMappedAndEveryChangeIsSaid) {
    const std::string folder = tavimo_test::TestFolder().string();
    tavimo_test::WriteFile(folder + "/notes.txt", "not a line");
    const std::pair<std::string, std::string> refused[] = {
        {"/dev/null", "is a mem device, not a terminal"},
        {folder + "/notes.txt", "is a file, not a terminal"},
        {folder, "is a folder, not a terminal"},
    };
    for (const auto& [target, reason] : refused) {
        const Result r = Tool("map COM9 " + target);
        EXPECT_EQ(r.status, 2) << target;
        EXPECT_NE(r.output.find(reason), std::string::npos) << target << ": " << r.output;
    }
    EXPECT_EQ(comlane::CPortMap::Lookup("COM9"), "");

    const Result typo = Tool("map COM9 /dev/ttyUSBO");
    EXPECT_EQ(typo.status, 0);
    EXPECT_NE(typo.output.find("/dev/ttyUSBO does not exist now"), std::string::npos)
        << typo.output;

    comlane::CSerialDevice bridge;  // a pseudo-terminal linked from a work folder
    std::string error;
    ASSERT_TRUE(bridge.OpenPseudoTerminal(folder + "/bridge", &error)) << error;
    const Result linked = Tool("map COM9 " + folder + "/bridge");
    EXPECT_EQ(linked.status, 0) << linked.output;
    EXPECT_NE(linked.output.find("COM9 was /dev/ttyUSBO; it is now " + folder + "/bridge"),
              std::string::npos)
        << linked.output;

    const Result sensor = Tool("sensor COM98 telegrams");
    EXPECT_NE(sensor.output.find("COM98 is not mapped"), std::string::npos) << sensor.output;
    Tool("sensor COM1");
    Tool("unmap COM9");
}

// A registry this user may only read is read as it is; a change to it fails and says so.
TEST(PortsToolTest, AReadOnlyRegistryIsReadAndChangesToItFail) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the tool as another user";
    }
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tavimo-shared-XXXXXX";  // reachable by the other user
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    const std::string registry = (folder / "registry.sqlite3").string();
    {
        const tavimo_test::ScopedEnv writable("TAVIMO_REGISTRY", registry);
        ASSERT_EQ(Tool("map COM9 pty").status, 0);
    }
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    for (const auto& entry : fs::directory_iterator(folder)) {
        fs::permissions(entry.path(),
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    const std::string as =
        "setpriv --reuid=65534 --regid=65534 --clear-groups env "
        "TAVIMO_REGISTRY=" +
        registry + " XDG_RUNTIME_DIR=" + folder.string() + " " + TAVIMO_PORTS_BINARY;
    const auto run = [&as](const std::string& arguments) {
        Result result;
        FILE* pipe = popen((as + " " + arguments + " 2>&1").c_str(), "r");
        char buffer[512];
        while (pipe != nullptr && std::fgets(buffer, sizeof(buffer), pipe) != nullptr) {
            result.output += buffer;
        }
        const int status = pipe != nullptr ? pclose(pipe) : -1;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    };
    const Result list = run("list");
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("is read-only here"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("COM9"), std::string::npos) << list.output;
    const Result change = run("map COM10 pty");
    EXPECT_EQ(change.status, 1) << change.output;
    EXPECT_NE(change.output.find("could not be written"), std::string::npos) << change.output;
    fs::remove_all(folder);
}

// A registry that cannot be read is named with the reason, and the tool fails rather than
// list an empty map.
TEST(PortsToolTest, ARegistryThatCannotBeReadIsNamedAndFails) {
    const std::string broken = tavimo_test::TestFolder().string() + "/not-a-registry";
    tavimo_test::WriteFile(broken, "these are notes, not a database\n");
    const tavimo_test::ScopedEnv registry("TAVIMO_REGISTRY", broken);
    const Result r = Tool("list");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(
        r.output.find("cannot use the registry database " + broken + ": file is not a database"),
        std::string::npos)
        << r.output;
}

}  // namespace
