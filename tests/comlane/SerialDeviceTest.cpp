#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "comlane/SerialDevice.h"
#include "platform/Registry.h"

using comlane::CPortMap;
using comlane::CSerialDevice;
using comlane::LineSettings;

TEST(SerialDeviceTest, PseudoTerminalCarriesBytesBothWays) {
    CSerialDevice near;
    std::string error;
    ASSERT_TRUE(near.OpenPseudoTerminal({}, &error)) << error;
    ASSERT_TRUE(near.IsPseudoTerminal());
    const int far = ::open(near.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(far, 0);

    ASSERT_EQ(near.Write("ab\r\n", 4), 4);
    char got[8] = {};
    pollfd p{far, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    ASSERT_EQ(::read(far, got, sizeof(got)), 4);  // raw: CR LF arrive as sent
    EXPECT_EQ(std::string(got, 4), "ab\r\n");

    ASSERT_EQ(::write(far, "xyz", 3), 3);
    ASSERT_TRUE(near.WaitReadable(10000));
    EXPECT_EQ(near.Read(got, sizeof(got)), 3);
    ::close(far);
}

TEST(SerialDeviceTest, LineSettingsRoundTripIncludingRatesWithoutATermiosConstant) {
    CSerialDevice device;
    ASSERT_TRUE(device.OpenPseudoTerminal());
    for (const unsigned baud : {9600u, 115200u, 14400u, 128000u, 256000u}) {
        LineSettings line{baud, 7, 2, 2};
        ASSERT_TRUE(device.SetLine(line)) << baud;
        LineSettings back;
        ASSERT_TRUE(device.GetLine(back));
        EXPECT_EQ(back.baud, baud);
        EXPECT_EQ(back.stopBits, 2);
        // The kernel holds a pseudo-terminal at 8 data bits without parity.
        EXPECT_EQ(back.dataBits, 8);
        EXPECT_EQ(back.parity, 0);
    }
    EXPECT_FALSE(device.SetLine(LineSettings{0, 8, 0, 0}));
}

TEST(SerialDeviceTest, CharacterTimeCountsStartParityAndStopBits) {
    EXPECT_NEAR(comlane::CharacterTime({9600, 8, 0, 0}), 1000.0 * 10 / 9600, 1e-12);
    EXPECT_NEAR(comlane::CharacterTime({9600, 8, 2, 2}), 1000.0 * 12 / 9600, 1e-12);
    EXPECT_NEAR(comlane::CharacterTime({9600, 7, 1, 1}), 1000.0 * 10.5 / 9600, 1e-12);
    EXPECT_EQ(comlane::CharacterTime({0, 8, 0, 0}), 0.0);
}

TEST(SerialDeviceTest, ALineIsOpenedForOneOwnerOnly) {
    CSerialDevice pty;
    ASSERT_TRUE(pty.OpenPseudoTerminal());
    CSerialDevice first;
    CSerialDevice second;
    std::string error;
    ASSERT_TRUE(first.Open(pty.Path(), &error)) << error;
    EXPECT_FALSE(second.Open(pty.Path(), &error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    first.Close();
    EXPECT_TRUE(second.Open(pty.Path(), &error)) << error;
}

TEST(SerialDeviceTest, RefusesTheConsoleAndPathsThatAreNoSerialLine) {
    EXPECT_TRUE(CSerialDevice::IsConsole("/dev/console"));
    EXPECT_TRUE(CSerialDevice::IsConsole("/dev/tty1"));
    EXPECT_FALSE(CSerialDevice::IsConsole("/dev/ttyUSB0"));
    CSerialDevice device;
    std::string error;
    EXPECT_FALSE(device.Open("/dev/console", &error));
    EXPECT_NE(error.find("console"), std::string::npos) << error;
    EXPECT_FALSE(device.Open("/dev/null", &error));
    EXPECT_FALSE(device.Open("/nonexistent/ttyX", &error));
    EXPECT_FALSE(device.Open("", &error));
    EXPECT_FALSE(device.IsOpen());
    for (const std::string& path : CSerialDevice::ListSerialDevices()) {
        EXPECT_FALSE(CSerialDevice::IsConsole(path)) << path;
    }
}

TEST(SerialDeviceTest, ReportsAGoneLineAsAFailure) {
    auto pty = std::make_unique<CSerialDevice>();
    ASSERT_TRUE(pty->OpenPseudoTerminal());
    CSerialDevice line;
    ASSERT_TRUE(line.Open(pty->Path()));
    pty.reset();  // the other end disappears, as an unplugged adapter
    char buffer[8];
    EXPECT_TRUE(line.WaitReadable(10000));
    EXPECT_EQ(line.Read(buffer, sizeof(buffer)), -1);
    EXPECT_EQ(line.Write("x", 1), -1);
}

TEST(PortMapTest, ShipsVirtualPortsAndKeepsTheUsersMapping) {
    const auto entries = CPortMap::Entries();
    for (const char* name : {"COM1", "COM2", "COM3", "COM100"}) {
        EXPECT_EQ(CPortMap::Lookup(name), "pty") << name;
    }
    ASSERT_GE(entries.size(), 4u);
    for (std::size_t i = 1; i < entries.size(); ++i) {
        EXPECT_LT(CPortMap::PortNumber(entries[i - 1].first),
                  CPortMap::PortNumber(entries[i].first));
    }
    ASSERT_TRUE(CPortMap::Map("com7", "/dev/ttyUSB9"));
    EXPECT_EQ(CPortMap::Lookup("COM7"), "/dev/ttyUSB9");
    ASSERT_TRUE(CPortMap::Unmap("COM2"));
    EXPECT_NE(CPortMap::Lookup("COM2"), "pty");  // an unmapped default stays unmapped
    EXPECT_EQ(CPortMap::Lookup("COM1"), "pty");
    EXPECT_TRUE(CPortMap::Map("COM2", "pty"));

    EXPECT_EQ(CPortMap::PortNumber("COM12"), 12);
    for (const char* bad : {"COM", "COM0", "COMX", "LPT1", "COM-1", "", "COM123456"}) {
        EXPECT_EQ(CPortMap::PortNumber(bad), -1) << bad;
        EXPECT_FALSE(CPortMap::Map(bad, "pty")) << bad;
    }
}

TEST(PortMapTest, AVirtualPortIsPublishedWhileOpenAndKeptForOneOwner) {
    const std::string link = CPortMap::LinkPath("COM3");
    EXPECT_EQ(link, std::string(std::getenv("XDG_RUNTIME_DIR")) + "/tavimo/ports/COM3");
    {
        CSerialDevice port;
        std::string error;
        ASSERT_TRUE(comlane::OpenNamedPort("COM3", port, &error)) << error;
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), port.Path());
        CSerialDevice again;
        EXPECT_FALSE(comlane::OpenNamedPort("COM3", again, &error));
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), port.Path());
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    CSerialDevice none;
    EXPECT_FALSE(comlane::OpenNamedPort("COM77", none));
}

TEST(PortMapTest, LinksArePublishedOnlyInAFolderOfThisUser) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string hostile = runtime + "/elsewhere";
    const std::string planted = runtime + "/planted";
    std::filesystem::create_directories(hostile);
    std::filesystem::create_directories(planted);
    std::filesystem::create_directory_symlink(hostile, planted + "/tavimo");
    {
        tavimo_test::ScopedEnv plantedRuntime("XDG_RUNTIME_DIR", planted);
        CSerialDevice port;
        std::string error;
        EXPECT_FALSE(comlane::OpenNamedPort("COM3", port, &error));
        EXPECT_NE(error.find("not a private folder"), std::string::npos) << error;
        EXPECT_TRUE(std::filesystem::is_empty(hostile));
    }
    tavimo_test::ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(CPortMap::PortsFolder(), "/tmp/tavimo-" + std::to_string(getuid()) + "/ports");
}
