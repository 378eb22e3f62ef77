#include "utilon/Numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

double Round(double value) {
    if (value > 0.0) {
        return std::floor(value + 0.5);
    }
    return std::ceil(value - 0.5);
}

double Round(double value, unsigned int places) {
    const double factor = std::pow(10.0, static_cast<double>(places));
    return Round(value * factor) / factor;
}

std::string FloatToStr(double value, int places) {
    std::vector<char> buffer(64);
    auto print = [&buffer](const char* format, double v) {
        int n = std::snprintf(buffer.data(), buffer.size(), format, v);
        if (n >= 0 && static_cast<std::size_t>(n) >= buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n) + 1);
            n = std::snprintf(buffer.data(), buffer.size(), format, v);
        }
        return n < 0 ? std::string() : std::string(buffer.data(), static_cast<std::size_t>(n));
    };
    if (places >= 0) {
        char format[32];
        std::snprintf(format, sizeof(format), "%%.%df", places);
        return print(format, value);
    }
    std::string text = print("%.15f", value);
    while (!text.empty() && text.back() == '0') {
        text.pop_back();
    }
    while (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

double StrToFloat(const std::string& text, int* endIndex) {
    const char* start = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (endIndex != nullptr) {
        *endIndex = static_cast<int>(end - start);
    }
    return value;
}

int IsNumeric(const char* text, double* value) {
    if (text == nullptr) {
        return 0;
    }
    const char* p = text;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    char* end = nullptr;
    const double number = std::strtod(p, &end);
    if (end == p) {
        return 0;
    }
    // strtod answers 0 for text it could not read; zero counts only when it was written
    // as a zero digit.
    if (number == 0.0 && *p != '0') {
        return 0;
    }
    for (const char* q = end; *q != '\0'; ++q) {
        if (*q != ' ' && *q != '\t') {
            return 0;
        }
    }
    if (value != nullptr) {
        *value = number;
    }
    return 1;
}

std::string IntToStr(int value) {
    return std::to_string(value);
}
