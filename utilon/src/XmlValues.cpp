#include "XmlValues.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace utilon::xml {

namespace {
const xmlChar* X(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}

std::string TakeString(xmlChar* text) {
    std::string s = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return s;
}
}  // namespace

void SetNumber(xmlNodePtr element, const char* name, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.7g", value);
    xmlSetProp(element, X(name), X(text));
}

int GetNumber(xmlNodePtr element, const char* name, double& value) {
    std::string text;
    if (xmlHasProp(element, X(name)) != nullptr) {
        text = TakeString(xmlGetProp(element, X(name)));
    } else {
        xmlNodePtr child = nullptr;
        for (xmlNodePtr n = element->children; n != nullptr; n = n->next) {
            if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, X(name)) == 0) {
                child = n;
                break;
            }
        }
        if (child == nullptr) {
            return 0;
        }
        text = TakeString(xmlNodeGetContent(child));
    }
    // The whole text, blanks around it allowed, must be one number ("-0" included).
    const char* begin = text.c_str();
    char* end = nullptr;
    const double parsed = std::strtod(begin, &end);
    if (end == begin) {
        return -1;
    }
    for (const char* q = end; *q != '\0'; ++q) {
        if (std::isspace(static_cast<unsigned char>(*q)) == 0) {
            return -1;
        }
    }
    value = parsed;
    return 1;
}

xmlNodePtr FindElement(xmlNodePtr element, const char* name) {
    if (element == nullptr || element->type != XML_ELEMENT_NODE) {
        return nullptr;
    }
    if (xmlStrcmp(element->name, X(name)) == 0) {
        return element;
    }
    for (xmlNodePtr n = element->children; n != nullptr; n = n->next) {
        if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, X(name)) == 0) {
            return n;
        }
    }
    return nullptr;
}

}  // namespace utilon::xml
