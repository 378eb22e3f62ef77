#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tagbook/RegistryBlock.h"
#include "tagbook/UnitBlock.h"

namespace {
// A tree with its units block; every test chooses the units it needs, since choices are
// settings that outlive a tree.
class UnitBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.SetName("Root");
        root.Initialise();
        ASSERT_TRUE(root.AddProperty("Units[CUnitsBlock]", 0));
        units = dynamic_cast<CUnitsBlock*>(root.GetChildObject("Units"));
        ASSERT_NE(units, nullptr);
    }
    void Choose(const std::string& category, const std::string& unit) {
        units->Set(category + ":Name", unit);
        long flag = 0;
        ASSERT_EQ(units->FindUnitBlock(category, flag)->GetUnit(), unit);
    }
    std::string Show(const std::string& category, double value, int places = -1,
                     const std::string& unit = std::string()) {
        std::string text = "untouched";
        if (units->ConvertForDisplay(category, value, text, 0, places, unit) == 0) {
            return "failed:" + text;
        }
        return text;
    }
    // The value read from a text, or NaN when the text is refused.
    double Read(const std::string& category, const std::string& text) {
        double value = -12345.0;
        if (units->ConvertFromDisplay(category, text, value, 0, nullptr) == 0) {
            EXPECT_EQ(value, -12345.0) << "a refused text changed the value";
            return std::nan("");
        }
        return value;
    }
    CDataBlock root;
    CUnitsBlock* units = nullptr;
};

TEST_F(UnitBlockTest, CategoriesAreConfiguredFromTheSettings) {
    long flag = -1;
    CUnitBlock* depth = units->FindUnitBlock("Depth", flag);
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(depth->GetAvailableUnits(), "Metres,International Feet,Fathoms,US Survey Feet");
    EXPECT_NE(dynamic_cast<CDepthUnitBlock*>(depth), nullptr);
    EXPECT_NE(dynamic_cast<CTemperatureUnitBlock*>(units->FindUnitBlock("Temperature", flag)),
              nullptr);
    CUnitBlock* sound = units->FindUnitBlock("SoundVelocity", flag);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->GetUiName(), "Speed of Sound");
    EXPECT_EQ(depth->GetUiName(), "Depth");
    int visible = -1;
    EXPECT_TRUE(units->Get("Density:Visible", visible));
    EXPECT_EQ(visible, 0);
    EXPECT_TRUE(units->Get("Depth:Visible", visible));
    EXPECT_EQ(visible, 1);
    std::string show;
    EXPECT_TRUE(units->Set("Show", "Pressure"));
    EXPECT_TRUE(units->Get("Show", show));
    EXPECT_EQ(show, "Pressure");
}

TEST_F(UnitBlockTest, FindUnitBlockKnowsLatitudeLongitudeAndBearing) {
    long flag = -1;
    CUnitBlock* latitude = units->FindUnitBlock("Latitude", flag);
    EXPECT_EQ(flag, 0);
    EXPECT_NE(dynamic_cast<CLatLongUnitBlock*>(latitude), nullptr);
    EXPECT_EQ(units->FindUnitBlock("Longitude", flag), latitude);
    EXPECT_EQ(flag, 1);
    CUnitBlock* bearing = units->FindUnitBlock("Bearing", flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(bearing, units->FindUnitBlock("Angle", flag));
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(units->FindUnitBlock("Luminosity", flag), nullptr);
    EXPECT_EQ(units->FindUnitBlock("Show", flag), nullptr);  // a property, not a category
    EXPECT_EQ(Show("Luminosity", 1.0), "failed:untouched");
    EXPECT_EQ(Show("", 1.0), "failed:untouched");
    EXPECT_EQ(units->ConvertForDisplay("Luminosity", 5.0, 0), 0.0);
}

TEST_F(UnitBlockTest, MetresAndFeetBothWays) {
    Choose("Depth", "International Feet");
    EXPECT_EQ(Show("Depth", 1.0, 2), "3.28 ft");
    EXPECT_EQ(Show("Depth", 1.0), "3.28 ft");  // the unit's own two places
    EXPECT_DOUBLE_EQ(Read("Depth", "10"), 3.048);
    EXPECT_DOUBLE_EQ(Read("Depth", "10 ft"), 3.048);
    EXPECT_DOUBLE_EQ(Read("Depth", "2 m"), 2.0);  // another unit, by label
    EXPECT_DOUBLE_EQ(Read("Depth", "1 fm"), 1.8288);
    EXPECT_DOUBLE_EQ(Read("Depth", "12 metres"), 12.0);  // by name, any case
    EXPECT_TRUE(std::isnan(Read("Depth", "12 furlongs")));
    EXPECT_TRUE(std::isnan(Read("Depth", "12 km")));  // not a depth unit

    Choose("Depth", "Metres");
    EXPECT_EQ(Show("Depth", 1.0), "1.00 m");
    EXPECT_EQ(Show("Depth", 1.0, 3, "International Feet"), "3.281 ft");
    EXPECT_EQ(Show("Depth", 1.0, -1, "ft"), "3.28 ft");
    EXPECT_EQ(Show("Depth", 1.0, -1, "Parsecs"), "failed:");
    EXPECT_DOUBLE_EQ(Read("Depth", "12 ft"), 12 * 0.3048);
    EXPECT_DOUBLE_EQ(Read("Depth", "12 International Feet"), 12 * 0.3048);
    EXPECT_NEAR(Read("Depth", "1200 USft"), 1200.0 * 1200.0 / 3936.9999996, 1e-9);

    std::string text;
    std::string unit;
    double value = 0.0;
    EXPECT_TRUE(units->ConvertFromDisplay("Depth", " 7.5 fm ", value, 0, &unit));
    EXPECT_EQ(unit, "fm");
}

TEST_F(UnitBlockTest, CelsiusAndFahrenheitBothWaysAndCIsAUnit) {
    Choose("Temperature", "Celsius");
    EXPECT_EQ(Show("Temperature", 100.0, -1, "Fahrenheit"), "212.0 °F");
    EXPECT_EQ(Show("Temperature", 100.0), "100.0 °C");
    EXPECT_DOUBLE_EQ(Read("Temperature", "212 °F"), 100.0);
    EXPECT_DOUBLE_EQ(Read("Temperature", "212 F"), 100.0);
    EXPECT_DOUBLE_EQ(Read("Temperature", "21 C"), 21.0);
    EXPECT_DOUBLE_EQ(Read("Temperature", "21"), 21.0);

    Choose("Temperature", "Fahrenheit");
    EXPECT_EQ(Show("Temperature", 100.0), "212.0 °F");
    EXPECT_EQ(Show("Temperature", -40.0), "-40.0 °F");
    EXPECT_DOUBLE_EQ(Read("Temperature", "32"), 0.0);
    EXPECT_DOUBLE_EQ(Read("Temperature", "100 C"), 100.0);
    EXPECT_DOUBLE_EQ(Read("Temperature", "100 °C"), 100.0);
    long flag = 0;
    CUnitBlock* temperature = units->FindUnitBlock("Temperature", flag);
    EXPECT_TRUE(temperature->IsValidUnit("C"));
    EXPECT_TRUE(temperature->IsCurrentUnit("F"));
    EXPECT_EQ(temperature->GetUnitFromLabel("C"), "Celsius");
    EXPECT_FALSE(temperature->IsValidUnit("K"));  // Kelvin is defined but not offered
    Choose("Temperature", "Celsius");
}

TEST_F(UnitBlockTest, EveryTemperatureUnitRoundTripsAndKelvinStartsAtAbsoluteZero) {
    // Kelvin is defined but not offered by default: offer it for this test only.
    ASSERT_TRUE(units->Set("Temperature:Name:Available", "Celsius,Fahrenheit,Kelvin"));
    long flag = 0;
    ASSERT_TRUE(units->FindUnitBlock("Temperature", flag)->IsValidUnit("K"));
    Choose("Temperature", "Celsius");
    EXPECT_EQ(Show("Temperature", 0.0, 2, "Kelvin"), "273.15 K");
    EXPECT_EQ(Show("Temperature", -273.15, 2, "Kelvin"), "0.00 K");
    EXPECT_EQ(Show("Temperature", 100.0, 2, "Kelvin"), "373.15 K");
    EXPECT_NEAR(Read("Temperature", "0 K"), -273.15, 1e-9);
    EXPECT_NEAR(Read("Temperature", "300 K"), 26.85, 1e-9);
    for (const char* unit : {"Celsius", "Fahrenheit", "Kelvin"}) {
        Choose("Temperature", unit);
        for (const double celsius : {-273.15, -40.0, 0.0, 21.5, 100.0}) {
            const std::string text = Show("Temperature", celsius, 6);
            EXPECT_NEAR(Read("Temperature", text), celsius, 1e-6) << unit << " " << text;
        }
    }
    Choose("Temperature", "Celsius");
    ASSERT_TRUE(units->Set("Temperature:Name:Available", "Celsius,Fahrenheit"));
}

TEST_F(UnitBlockTest, ChoosingAUnitStoresTheChoiceAndRefusesUnknownUnits) {
    Choose("Speed", "Metres per second");
    long flag = 0;
    CUnitBlock* speed = units->FindUnitBlock("Speed", flag);
    EXPECT_TRUE(units->Set("Speed:Name", "Knots"));
    EXPECT_EQ(speed->GetUnit(), "Knots");
    EXPECT_EQ(speed->GetLabel(), "Kn");
    EXPECT_DOUBLE_EQ(speed->GetNormalise(), 0.514444444);
    std::string stored;
    EXPECT_TRUE(Registry.Get("Units:Speed:Default", stored));
    EXPECT_EQ(stored, "Knots");

    // An unknown unit puts the current one back.
    units->Set("Speed:Name", "Furlongs per fortnight");
    std::string name;
    EXPECT_TRUE(units->Get("Speed:Name", name));
    EXPECT_EQ(name, "Knots");
    EXPECT_EQ(speed->GetUnit(), "Knots");

    // A label chooses its unit, shown by name.
    units->Set("Speed:Name", "ft/s");
    EXPECT_TRUE(units->Get("Speed:Name", name));
    EXPECT_EQ(name, "Feet per second");
    EXPECT_EQ(speed->GetUnit(), "Feet per second");

    // Decimal places are stored per category and unit.
    EXPECT_TRUE(units->Set("Speed:DecPlaces", 4));
    int places = 0;
    EXPECT_TRUE(Registry.Get("Units:Speed:Feet per second:DecPlaces", places));
    EXPECT_EQ(places, 4);
    EXPECT_EQ(Show("Speed", 1.0), "3.2808 ft/s");
    EXPECT_TRUE(units->Set("Speed:DecPlaces", 1));
    Choose("Speed", "Metres per second");
}

TEST_F(UnitBlockTest, AngleTextsInEachModeWithCarries) {
    Choose("Angle", "DDD MM SS.sss");
    EXPECT_EQ(Show("Angle", 12.5, 3), "12°30'0.000\"");
    EXPECT_EQ(Show("Angle", -12.5, 3), "-12°30'0.000\"");
    EXPECT_EQ(Show("Angle", 10.9999999, 0), "11°0'0\"");
    EXPECT_EQ(Show("Angle", 0.5 + 59.0 / 3600.0 + 0.9996 / 3600.0, 3), "0°31'0.000\"");

    Choose("Angle", "DDD MM.mmm");
    EXPECT_EQ(Show("Angle", 12.5, 1), "12°30.0'");
    EXPECT_EQ(Show("Angle", 10.99999, 1), "11°0.0'");
    EXPECT_EQ(Show("Angle", -3.25, 2), "-3°15.00'");

    Choose("Angle", "DDD.ddd");
    EXPECT_EQ(Show("Angle", 12.5), "12.50°");
    EXPECT_EQ(Show("Angle", 12.6, 0), "13°");
    // Another unit of the category, by name: its own format and places.
    EXPECT_EQ(Show("Angle", 12.5, -1, "DDD MM SS.sss"), "12°30'0\"");
    EXPECT_EQ(Show("Angle", 12.5, 2, "DDD MM.mmm"), "12°30.00'");
    EXPECT_EQ(Show("Angle", 12.5, 2, "Grads"), "failed:");
}

TEST_F(UnitBlockTest, AngleTextsReadBackAndBadOnesAreRefused) {
    Choose("Angle", "DDD MM SS.sss");
    EXPECT_NEAR(Read("Angle", "12°30'15\""), 12.0 + 30.0 / 60 + 15.0 / 3600, 1e-12);
    EXPECT_NEAR(Read("Angle", "12 30 15"), 12.0 + 30.0 / 60 + 15.0 / 3600, 1e-12);
    EXPECT_NEAR(Read("Angle", "-12°30'"), -12.5, 1e-12);
    EXPECT_NEAR(Read("Angle", "-0°30'"), -0.5, 1e-12);  // the sign of "-0" counts
    EXPECT_NEAR(Read("Angle", "45.25"), 45.25, 1e-12);
    EXPECT_NEAR(Read("Angle", "1E1"), 10.0, 1e-12);
    for (const char* bad :
         {"12°60'", "12 30 60", "12 -5", "12x", "12 30 15 4", "north", "", "°", "12° 30' W"}) {
        EXPECT_TRUE(std::isnan(Read("Angle", bad))) << bad;
    }
    std::string unit;
    double value = 0.0;
    EXPECT_TRUE(units->ConvertFromDisplay("Angle", "10 20", value, 0, &unit));
    EXPECT_EQ(unit, "°");
}

TEST_F(UnitBlockTest, LatitudeAndLongitudeLetters) {
    Choose("Latitude/Longitude", "DDD MM SS.sss");
    EXPECT_DOUBLE_EQ(Read("Latitude", "51 30 0 N"), 51.5);
    EXPECT_DOUBLE_EQ(Read("Latitude", "51 30 0 S"), -51.5);
    EXPECT_DOUBLE_EQ(Read("Latitude", "51 30 0 E"), 51.5);
    EXPECT_DOUBLE_EQ(Read("Latitude", "51°30'0\"s  "), -51.5);
    EXPECT_DOUBLE_EQ(Read("Longitude", "0 30 0 W"), -0.5);
    EXPECT_DOUBLE_EQ(Read("Longitude", "0 30 0 E"), 0.5);
    EXPECT_TRUE(std::isnan(Read("Latitude", "N")));
    EXPECT_TRUE(std::isnan(Read("Latitude", "S 51 30")));

    EXPECT_EQ(Show("Latitude", -33.5), "33°30'0.000\" S");
    EXPECT_EQ(Show("Longitude", 190.0), "170°0'0.000\" W");
    EXPECT_EQ(Show("Longitude", 10.25), "10°15'0.000\" E");
    EXPECT_EQ(Show("Latitude", 0.0), "0°0'0.000\"");
    Choose("Latitude/Longitude", "DDD.ddd");
    EXPECT_EQ(Show("Latitude", 51.5), "51.500000° N");
    Choose("Latitude/Longitude", "DDD MM SS.sss");
}

TEST_F(UnitBlockTest, BearingsAreKeptInAFullCircle) {
    Choose("Angle", "DDD.ddd");
    EXPECT_DOUBLE_EQ(units->ConvertForDisplay("Bearing", -90.0, 0), 270.0);
    EXPECT_DOUBLE_EQ(units->ConvertForDisplay("Angle", -90.0, 0), -90.0);
    EXPECT_DOUBLE_EQ(units->ConvertForDisplay("Bearing", 725.0, 0), 5.0);
    EXPECT_DOUBLE_EQ(units->ConvertFromDisplay("Bearing", -90.0, 0), 270.0);
    EXPECT_EQ(Show("Bearing", -90.0), "-90.00°");  // the text form does not reduce
    EXPECT_DOUBLE_EQ(Read("Bearing", "-90"), 270.0);
}

TEST_F(UnitBlockTest, PropertiesWithUnitsConvertThroughTheTree) {
    Choose("Depth", "Metres");
    CDataBlock* probe = new CDataBlock(&root);
    probe->SetName("Probe");
    ASSERT_TRUE(probe->AddProperty("Depth[Real:Units:Depth=10]", 0));
    ASSERT_TRUE(probe->AddProperty("Position[3dPoint:Units:Coordinates]", 0));
    std::string text;
    EXPECT_TRUE(probe->Get("Depth", text));
    EXPECT_EQ(text, "10.00 m");
    EXPECT_TRUE(probe->Set("Depth", "3 fm"));
    double depth = 0.0;
    EXPECT_TRUE(probe->Get("Depth", depth));
    EXPECT_DOUBLE_EQ(depth, 3 * 1.8288);

    Choose("Coordinates", "International Feet");
    EXPECT_TRUE(probe->Set("Position", "100, 200, 10"));
    C3DPoint position;
    EXPECT_TRUE(probe->Get("Position", position));
    EXPECT_DOUBLE_EQ(position.x, 30.48);
    EXPECT_DOUBLE_EQ(position.z, 3.048);
    EXPECT_TRUE(probe->Get("Position", text));
    EXPECT_EQ(text, "100.00, 200.00, 10.00");

    // With depth counted downwards, z changes sign on the way in and out.
    root.Set("Settings:Coordinates:Order:Depth", 0, 1);
    EXPECT_TRUE(probe->Set("Position", "100, 200, 10 m"));
    EXPECT_TRUE(probe->Get("Position", position));
    EXPECT_DOUBLE_EQ(position.z, -10.0);
    EXPECT_TRUE(probe->Get("Position", text));
    EXPECT_EQ(text, "100.00, 200.00, 32.81");
    Choose("Coordinates", "Metres");
}
}  // namespace
