// The library's own resources: the default settings tree (9900), the unit block's
// properties (9901), the units block's children (9902) and the choices of its "Show"
// property (9958), registered under the module "Tagbook".
#pragma once

#include "platform/Types.h"

namespace tagbook {
inline constexpr const char* kResourceModule = "Tagbook";
inline constexpr UINT IDR_DEFAULT_SETTINGS = 9900;
inline constexpr UINT IDR_UNIT_BLOCK = 9901;
inline constexpr UINT IDR_UNITS_BLOCK = 9902;
inline constexpr UINT IDR_UNITS_SHOW = 9958;

// Adds the module to the resource chain once; every constructor that may look a resource
// up calls it, so the registration never depends on a static initialiser being linked.
void RegisterResources();
}  // namespace tagbook
