// A command-line record that also keeps every switch, with the parameter that follows
// it, in a table asked by name: /port COM2 /debug gives port = "com2", debug = "TRUE".
#pragma once

#include <string>
#include <unordered_map>

#include "platform/CommandLine.h"

class CCommandLineInfoEx : public CCommandLineInfo {
public:
    CCommandLineInfoEx();
    ~CCommandLineInfoEx() override = default;

    // Nonzero when the switch was given (name in any case); value gets "TRUE" or the
    // lower-case parameter that followed it.
    int GetOption(const char* name, std::string& value) const;
    int GetOption(const char* name) const;

    void ParseParam(const char* param, BOOL isFlag, BOOL isLast) override;

private:
    std::unordered_map<std::string, std::string> m_options;
    std::string m_pendingSwitch;
};
