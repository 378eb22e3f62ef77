#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tagbook/RegistryBlock.h"
#include "tagbook/UnitBlock.h"

namespace {
// One thread changes the depth unit and its decimal places (writing the settings through)
// while another reads and writes depths as text: every text is whole, in one unit.
TEST(UnitBlockThreadTest, UnitChangesWhileOtherThreadsConvert) {
    CDataBlock root;
    root.Initialise();
    ASSERT_TRUE(root.AddProperty("Units[CUnitsBlock]", 0));
    auto* units = dynamic_cast<CUnitsBlock*>(root.GetChildObject("Units"));
    ASSERT_NE(units, nullptr);
    units->Set("Depth:Name", "Metres");
    units->Set("Depth:DecPlaces", 2);

    std::atomic<bool> done{false};
    std::thread chooser([&] {
        for (int i = 0; i < 200; ++i) {
            units->Set("Depth:Name", i % 2 == 0 ? "International Feet" : "Metres");
            units->Set("Depth:DecPlaces", 2);
            Registry.Set("Job:Counter", i, 1);
        }
        done = true;
    });
    int reads = 0;
    while (!done.load() || reads < 50) {
        std::string text;
        ASSERT_TRUE(units->ConvertForDisplay("Depth", 1.0, text, 0, -1, std::string()));
        ASSERT_TRUE(text == "1.00 m" || text == "3.28 ft") << text;
        double value = 0.0;
        ASSERT_TRUE(units->ConvertFromDisplay("Depth", "12 ft", value, 0, nullptr));
        ASSERT_NEAR(value, 12 * 0.3048, 1e-12);
        int counter = 0;
        Registry.Get("Job:Counter", counter);
        ++reads;
    }
    chooser.join();
    long flag = 0;
    EXPECT_EQ(units->FindUnitBlock("Depth", flag)->GetUnit(), "Metres");
    std::string stored;
    EXPECT_TRUE(Registry.Get("Units:Depth:Default", stored));
    EXPECT_EQ(stored, "Metres");
}
}  // namespace
