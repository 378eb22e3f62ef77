// Registry scripts in the registrar's language, run in register or unregister mode:
//   HKCR { NoRemove AppID { '{...}' = s 'Tavimo'  'Tavimo.EXE' { val AppID = s '{...}' } } }
// Keys marked NoRemove stay on unregistration, ForceRemove keys go with everything below
// them (and are cleared before registration), other keys go when nothing is left in them.
#pragma once

#include <map>
#include <string>

#include "platform/Com.h"

namespace platform {
// Replacements such as {"MODULE", "/usr/bin/tavimo"} for "%MODULE%".
HRESULT RunRegistryScript(const std::string& script, bool registering,
                          const std::map<std::string, std::string>& replacements);
// Runs the script resource of type "REGISTRY" with the given id.
HRESULT UpdateRegistryFromResource(UINT id, bool registering,
                                   const std::map<std::string, std::string>& replacements);

// A type library file: a text file whose first line is "TAVIMO-TYPELIB 1", then lines
// "libid {...}", "version 1.0" and "name ...". Registering writes
// HKCR\TypeLib\{libid}\<version> with the name, "0\linux" = the file path and "FLAGS".
HRESULT RegisterTypeLib(const std::string& path);
HRESULT UnRegisterTypeLib(const std::string& path);
}  // namespace platform
