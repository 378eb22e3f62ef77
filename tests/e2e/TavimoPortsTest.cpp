// tavimo-ports chooses the sensor's kind of device and shows what a reader of telegrams
// counted, as a user runs it.
#include <gtest/gtest.h>

#include <string>

#include "ProcessRunner.h"
#include "mtobj/MTObj.h"
#include "platform/Registry.h"

namespace {

// Runs tavimo-ports; its exit status and output.
std::pair<int, std::string> Ports(std::vector<std::string> args) {
    ProcessRunner run(TAVIMO_PORTS_BINARY, std::move(args));
    if (!run.Start()) {
        return {-1, "not started"};
    }
    const auto status = run.Wait(30000);
    platform::RegistryClose();  // see what the other process wrote
    return {status.value_or(-1), run.Output()};
}

TEST(TavimoPortsTest, TelegramsOnTheSensorPortAndWhatTheyCounted) {
    EXPECT_EQ(Ports({"sensor", "COM4", "telegrams:150"}).first, 0);
    auto [status, output] = Ports({"sensor"});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "COM4     telegrams:150\n");

    // A gap that is not a whole number of milliseconds from 1 to 1000 is refused, and the
    // setting stays as it was.
    std::tie(status, output) = Ports({"sensor", "COM4", "telegrams:0"});
    EXPECT_EQ(status, 2);
    EXPECT_NE(output.find("1 to 1000"), std::string::npos) << output;
    std::tie(status, output) = Ports({"sensor", "COM4", "nmea"});
    EXPECT_EQ(status, 2);
    EXPECT_NE(output.find("telegrams"), std::string::npos) << output;  // the kinds it knows

    // The running module publishes its counts; tavimo-ports shows them under the kind.
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey), ERROR_SUCCESS);
        key.SetString("Counters",
                      "COM4 HEHDT+TSS1: lines read 12, used 10, samples delivered "
                      "5, dropped 2 (checksum 2)");
    }
    platform::RegistryClose();
    std::tie(status, output) = Ports({"sensor"});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output,
              "COM4     telegrams:150\ncounted  COM4 HEHDT+TSS1: lines read 12, used 10, samples "
              "delivered 5, dropped 2 (checksum 2)\n");
}

}  // namespace
