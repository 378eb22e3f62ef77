// The resources of the library's settings, units and reports: the category names, the
// purge warning and the report style sheets, added to the library's resource module.
#pragma once

#include "platform/Types.h"

namespace tagbook {
// Category names as the units block looks them up.
inline constexpr UINT IDS_ANGLE = 9904;
inline constexpr UINT IDS_LATLONG = 9905;
inline constexpr UINT IDS_LATITUDE = 9914;
inline constexpr UINT IDS_LONGITUDE = 9915;
inline constexpr UINT IDS_BEARING = 9916;
inline constexpr UINT IDS_SPEED_OF_SOUND = 9924;

void RegisterSettingsResources();
}  // namespace tagbook
