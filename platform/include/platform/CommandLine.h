// The framework's command-line record and its walker.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

class CCommandLineInfo {
public:
    enum ShellCommand {
        FileNew,
        FileOpen,
        FilePrint,
        FilePrintTo,
        FileDDE,
        AppRegister,
        AppUnregister,
        FileNothing = -1
    };

    CCommandLineInfo() = default;
    virtual ~CCommandLineInfo() = default;

    // One token: isFlag when it began with '/' or '-' (already removed).
    virtual void ParseParam(const char* param, BOOL isFlag, BOOL isLast);

    BOOL m_bShowSplash = TRUE;
    BOOL m_bRunEmbedded = FALSE;   // "Embedding": started by COM to serve objects
    BOOL m_bRunAutomated = FALSE;  // "Automation"
    ShellCommand m_nShellCommand = FileNew;
    std::string m_strFileName;  // the first plain parameter
    std::string m_strPrinterName;
    std::string m_strDriverName;
    std::string m_strPortName;

protected:
    void ParseParamFlag(const char* param);
    void ParseParamNotFlag(const char* param);
    void ParseLast(BOOL isLast);
};

// Walks argv[1..] in order, as the framework's ParseCommandLine does.
void ParseCommandLine(CCommandLineInfo& info, const std::vector<std::string>& args);

namespace platform {
// The raw command line of the process ("program arg arg ..."), for the start-up scan.
void SetCommandLine(const std::vector<std::string>& argv);
const std::string& GetCommandLineA();
}  // namespace platform
