#include "utilon/CommandLineInfoEx.h"

#include <cctype>

namespace {
std::string Lower(const char* text) {
    std::string s = text != nullptr ? text : "";
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}
}  // namespace

CCommandLineInfoEx::CCommandLineInfoEx() {
    m_options.reserve(10);
}

void CCommandLineInfoEx::ParseParam(const char* param, BOOL isFlag, BOOL isLast) {
    const std::string lower = Lower(param);
    if (isFlag != FALSE) {
        m_options[lower] = "TRUE";
        m_pendingSwitch = lower;
    } else if (!m_pendingSwitch.empty()) {
        m_options[m_pendingSwitch] = lower;
        m_pendingSwitch.clear();
    }
    CCommandLineInfo::ParseParam(param, isFlag, isLast);
}

int CCommandLineInfoEx::GetOption(const char* name, std::string& value) const {
    auto it = m_options.find(Lower(name));
    if (it == m_options.end()) {
        return 0;
    }
    value = it->second;
    return 1;
}

int CCommandLineInfoEx::GetOption(const char* name) const {
    std::string ignored;
    return GetOption(name, ignored);
}
