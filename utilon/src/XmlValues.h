// Numbers as XML attributes, shared by the value types that save themselves.
#pragma once

#include <string>

#include <libxml/tree.h>

namespace utilon::xml {
// Sets the attribute to the value written with "%.7g".
void SetNumber(xmlNodePtr element, const char* name, double value);
// 1: the attribute (or a child element of that name) holds one number; 0: it is missing;
// -1: it holds something that is not a number.
int GetNumber(xmlNodePtr element, const char* name, double& value);
// The element itself when it has the name, else its first child element of that name.
xmlNodePtr FindElement(xmlNodePtr element, const char* name);
}  // namespace utilon::xml
