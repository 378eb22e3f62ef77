#include "tagbook/TagbookResources.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/Resources.h"

namespace tagbook {
namespace {
// One unit: its label and its conversion constants (display = internal x scale /
// normalise + offset).
struct UnitDefinition {
    const char* name;
    const char* label;
    const char* scale;
    const char* offset;
    const char* normalise;
};

constexpr UnitDefinition kUnits[] = {
    {"Atmospheres", "atm", "0.0098692327", "0", "1"},
    {"Parts per thousand", "ppt", "1", "0", "1"},
    {"Celsius", "°C", "1", "0", "1"},
    {"Centimetres", "cm", "100", "0", "1"},
    {"DDD.ddd", "°", "1", "0", "1"},
    {"DDD MM SS.sss", "°", "1", "0", "1"},
    {"DDD MM.mmm", "°", "1", "0", "1"},
    {"Fahrenheit", "°F", "9", "32", "5"},
    {"Fathoms", "fm", "1", "0", "1.8288"},
    {"Feet per second", "ft/s", "1", "0", "0.3048"},
    {"Hours", "hr", "1", "0", "3600"},
    {"Inches", "in", "39.37008", "0", "1"},
    {"International Feet", "ft", "1", "0", "0.3048"},
    {"Kgm-3", "Kgm-3", "1", "0", "1"},
    {"Kelvin", "K", "1", "273.15", "1"},  // display = Celsius + 273.15
    {"Kilometres", "Km", "1", "0", "1000"},
    {"Kilometres per hour", "km/h", "1", "0", "0.277777777"},
    {"Kilopascals", "kPa", "1", "0", "1"},
    {"Knots", "Kn", "1", "0", "0.514444444"},
    {"Metres", "m", "1", "0", "1"},
    {"Metres per second", "m/s", "1", "0", "1"},
    {"Miles", "M", "1", "0", "1609.344"},
    {"Miles per hour", "M/h", "1", "0", "0.4470399998"},
    {"Millibars", "mb", "10", "0", "1"},
    {"Millimetres of Mercury", "mmHg", "7.50063755419211", "0", "1"},
    {"Milliseconds", "ms", "1000", "0", "1"},
    {"Minutes", "min", "1", "0", "60"},
    {"ms-2", "ms-2", "1", "0", "1"},
    {"Nautical Miles", "NM", "1", "0", "1852"},
    {"Seconds", "s", "1", "0", "1"},
    {"US Survey Feet", "USft", "3936.9999996", "0", "1200"},
    {"Yards", "yd", "1.09361", "0", "1"},
    {"PSi", "PSi", "0.14503774", "0", "1"},
    {"Volts", "V", "1", "0", "1"},
};

// One category: its units in order with their decimal places, the default unit, the
// internal unit (empty when the category has none) and whether it is offered.
struct Category {
    const char* name;
    std::vector<std::pair<const char*, int>> units;
    const char* defaultUnit;
    const char* internal;
    int visible;
};

const std::vector<Category>& Categories() {
    static const std::vector<Category> categories = {
        {"Angle", {{"DDD.ddd", 2}, {"DDD MM SS.sss", 0}, {"DDD MM.mmm", 1}}, "DDD.ddd", "", 1},
        {"Coordinates",
         {{"Metres", 2}, {"International Feet", 2}, {"US Survey Feet", 2}},
         "Metres",
         "Metres",
         1},
        {"Depth",
         {{"Metres", 2}, {"International Feet", 2}, {"Fathoms", 2}, {"US Survey Feet", 2}},
         "Metres",
         "Metres",
         1},
        {"Distance",
         {{"Metres", 2},
          {"International Feet", 2},
          {"Kilometres", 2},
          {"Nautical Miles", 2},
          {"US Survey Feet", 2}},
         "Metres",
         "Metres",
         1},
        {"Duration",
         {{"Seconds", 1}, {"Milliseconds", 1}, {"Minutes", 1}, {"Hours", 1}},
         "Seconds",
         "Seconds",
         1},
        {"Density", {{"Kgm-3", 3}}, "Kgm-3", "Kgm-3", 0},
        {"Gravity", {{"ms-2", 8}}, "ms-2", "ms-2", 0},
        {"Pressure",
         {{"Kilopascals", 2},
          {"Millibars", 1},
          {"Atmospheres", 3},
          {"Millimetres of Mercury", 3},
          {"PSi", 3}},
         "Millibars",
         "Kilopascals",
         1},
        {"Heave",
         {{"Metres", 0}, {"International Feet", 0}, {"Centimetres", 0}, {"Inches", 0}},
         "Metres",
         "Metres",
         1},
        {"Latitude/Longitude",
         {{"DDD.ddd", 6}, {"DDD MM SS.sss", 3}, {"DDD MM.mmm", 6}},
         "DDD MM SS.sss",
         "",
         1},
        {"Salinity", {{"Parts per thousand", 2}}, "Parts per thousand", "Parts per Thousand", 0},
        {"SoundVelocity",
         {{"Metres per second", 2}, {"Feet per second", 0}},
         "Metres per second",
         "Metres per second",
         1},
        {"Speed",
         {{"Metres per second", 1}, {"Feet per second", 1}, {"Knots", 1}},
         "Metres per second",
         "Metres per second",
         1},
        {"Temperature", {{"Celsius", 1}, {"Fahrenheit", 1}}, "Celsius", "Celsius", 1},
        {"Geodesy Distance", {{"Metres", 3}}, "Metres", "", 0},
        {"Voltage", {{"Volts", 3}}, "Volts", "Volts", 0},
        {"ScaleFactor", {{"*", 7}}, "*", "*", 0},
    };
    return categories;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::vector<MenuEntry> DefaultSettingsMenu() {
    std::vector<MenuEntry> definitions;
    for (const UnitDefinition& unit : kUnits) {
        definitions.push_back(MenuEntry::Popup(
            unit.name,
            {MenuEntry::Item(0, std::string("Label[String=") + Quoted(unit.label) + "]"),
             MenuEntry::Item(0, std::string("Scale[Real=") + unit.scale + "]"),
             MenuEntry::Item(0, std::string("Offset[Real=") + unit.offset + "]"),
             MenuEntry::Item(0, std::string("Normalise[Real=") + unit.normalise + "]")}));
    }
    std::vector<MenuEntry> units{MenuEntry::Popup("Definitions", std::move(definitions))};
    for (const Category& category : Categories()) {
        std::string available;
        std::vector<MenuEntry> entries;
        std::vector<MenuEntry> places;
        for (const auto& [unit, decPlaces] : category.units) {
            available += available.empty() ? "" : ",";
            available += unit;
            places.push_back(MenuEntry::Popup(
                unit,
                {MenuEntry::Item(0, "DecPlaces[Integer=" + std::to_string(decPlaces) + "]")}));
        }
        entries.push_back(MenuEntry::Item(0, "Available[String=" + Quoted(available) + "]"));
        entries.push_back(MenuEntry::Item(
            0, std::string("Default[String=") + Quoted(category.defaultUnit) + "]"));
        for (MenuEntry& entry : places) {
            entries.push_back(std::move(entry));
        }
        if (category.internal[0] != '\0') {
            entries.push_back(MenuEntry::Item(
                0, std::string("Internal[String=") + Quoted(category.internal) + "]"));
        }
        entries.push_back(
            MenuEntry::Item(0, "Visible[Integer=" + std::to_string(category.visible) + "]"));
        units.push_back(MenuEntry::Popup(category.name, std::move(entries)));
    }
    return {MenuEntry::Item(0, "Version[String]"), MenuEntry::Popup("Units", std::move(units))};
}

std::vector<MenuEntry> UnitBlockMenu() {
    return {
        MenuEntry::Item(9956, "DecPlaces[Integer=2]"),
        MenuEntry::Item(9952, "Label[String]"),
        MenuEntry::Item(9953, "Name[String]"),
        MenuEntry::Item(9959, "Name:Available[String Array]"),
        MenuEntry::Item(9954, "Normalise[Real=1]"),
        MenuEntry::Item(9955, "Offset[Real=0]"),
        MenuEntry::Item(9957, "Scale[Real=1]"),
        MenuEntry::Item(0, "Visible[Integer=1]"),
    };
}

std::vector<MenuEntry> UnitsBlockMenu() {
    return {
        MenuEntry::Item(0, "Angle[CAngleUnitBlock]"),
        MenuEntry::Item(0, "Coordinates[CCoordinatesUnitBlock]"),
        MenuEntry::Item(0, "Depth[CDepthUnitBlock]"),
        MenuEntry::Item(0, "Distance[CUnitBlock]"),
        MenuEntry::Item(0, "Density[CUnitBlock]"),
        MenuEntry::Item(0, "Gravity[CUnitBlock]"),
        MenuEntry::Item(0, "Duration[CUnitBlock]"),
        MenuEntry::Item(0, "Latitude/Longitude[CLatLongUnitBlock]"),
        MenuEntry::Item(0, "Pressure[CUnitBlock]"),
        MenuEntry::Item(0, "Salinity[CUnitBlock]"),
        MenuEntry::Item(0, "SoundVelocity[CSoundSpeedUnitBlock]"),
        MenuEntry::Item(0, "Speed[CUnitBlock]"),
        MenuEntry::Item(0, "Temperature[CTemperatureUnitBlock]"),
        MenuEntry::Item(0, "Geodesy Distance[CUnitBlock]"),
        MenuEntry::Item(IDR_UNITS_SHOW, "Show[int]"),
        MenuEntry::Item(0, "Voltage[CUnitBlock]"),
        MenuEntry::Item(0, "ScaleFactor[CUnitBlock]"),
    };
}

std::vector<MenuEntry> UnitsShowMenu() {
    std::vector<MenuEntry> menu;
    UINT id = 1;
    for (const char* name :
         {"Angle", "Coordinates", "Depth", "Distance", "Duration", "Gravity", "Latitude/Longitude",
          "Pressure", "Temperature", "Velocity", "Density", "ScaleFactor"}) {
        menu.push_back(MenuEntry::Item(id++, name));
    }
    return menu;
}
}  // namespace

void RegisterResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::AddResourceModule(kResourceModule);
        platform::RegisterMenu(kResourceModule, IDR_DEFAULT_SETTINGS, DefaultSettingsMenu());
        platform::RegisterMenu(kResourceModule, IDR_UNIT_BLOCK, UnitBlockMenu());
        platform::RegisterMenu(kResourceModule, IDR_UNITS_BLOCK, UnitsBlockMenu());
        platform::RegisterMenu(kResourceModule, IDR_UNITS_SHOW, UnitsShowMenu());
    });
}
}  // namespace tagbook
