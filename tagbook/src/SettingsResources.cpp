#include "SettingsResources.h"

#include <mutex>

#include "platform/Resources.h"
#include "tagbook/RegistryBlock.h"
#include "tagbook/TagbookResources.h"
#include "tagbook/XmlReportGenerator.h"

namespace tagbook {
// The HTML report style sheet, built into the library from its source file.
extern const char* const kReportHtmlXsl;

void RegisterSettingsResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterResources();
        const auto add = [](UINT id, const char* text) {
            platform::RegisterString(kResourceModule, id, text);
        };
        add(IDS_PURGE_WARNING,
            "Warning: The configuration information stored in the registry is from a "
            "different version of the application, and therefore using it could result in "
            "unpredictable behaviour.\n\nDo you want to purge the registry of this "
            "information?");
        add(IDS_ANGLE, "Angle");
        add(IDS_LATLONG, "Latitude/Longitude");
        add(9906, "Coordinates");
        add(9907, "Depth");
        add(9908, "Distance");
        add(9909, "Duration");
        add(9910, "Density");
        add(9911, "Gravity");
        add(9912, "Pressure");
        add(9913, "Salinity");
        add(IDS_LATITUDE, "Latitude");
        add(IDS_LONGITUDE, "Longitude");
        add(IDS_BEARING, "Bearing");
        add(9917, "SoundVelocity");
        add(9918, "Speed");
        add(9919, "Temperature");
        add(9920, "Geodesy Distance");
        add(9921, "Voltage");
        add(9922, "ScaleFactor");
        add(9923, "Heave");
        add(IDS_SPEED_OF_SOUND, "Speed of Sound");
        platform::RegisterResource(kResourceModule, CXmlReportGenerator::kXslResourceType,
                                   IDR_XSL_REPORT_HTML, kReportHtmlXsl);
    });
}
}  // namespace tagbook
