#include "utilon/Text.h"

#include <cstring>

std::string Before(const std::string& text, const char* marker) {
    const std::size_t pos = text.find(marker != nullptr ? marker : "");
    return pos == std::string::npos ? text : text.substr(0, pos);
}

std::string After(const std::string& text, const char* marker) {
    const std::string m = marker != nullptr ? marker : "";
    const std::size_t pos = text.find(m);
    return pos == std::string::npos ? std::string() : text.substr(pos + m.size());
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    const std::size_t start = text.find(open);
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = text.find(close, start + 1);
    const std::size_t from = start + open.size();
    if (end == std::string::npos || end < from) {
        return {};
    }
    return text.substr(from, end - from);
}

std::string Chomp(std::string& text, const char* delimiter, int skipEmpty) {
    const std::string d = delimiter != nullptr ? delimiter : "";
    for (;;) {
        const std::size_t pos = d.empty() ? std::string::npos : text.find(d);
        std::string field;
        if (pos == std::string::npos) {
            field = text;
            text.clear();
        } else {
            field = text.substr(0, pos);
            text = text.substr(pos + d.size());
        }
        if (skipEmpty == 0 || !field.empty() || text.empty()) {
            return field;
        }
    }
}
