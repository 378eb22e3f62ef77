#include "platform/CommandLine.h"

#include <strings.h>

namespace {
bool Equal(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}
std::string g_commandLine;
}  // namespace

void CCommandLineInfo::ParseParam(const char* param, BOOL isFlag, BOOL isLast) {
    if (isFlag != FALSE) {
        ParseParamFlag(param);
    } else {
        ParseParamNotFlag(param);
    }
    ParseLast(isLast);
}

void CCommandLineInfo::ParseParamFlag(const char* param) {
    if (Equal(param, "pt")) {
        m_nShellCommand = FilePrintTo;
    } else if (Equal(param, "p")) {
        m_nShellCommand = FilePrint;
    } else if (Equal(param, "Register") || Equal(param, "Regserver")) {
        m_nShellCommand = AppRegister;
    } else if (Equal(param, "Unregister") || Equal(param, "Unregserver")) {
        m_nShellCommand = AppUnregister;
    } else if (Equal(param, "dde")) {
        m_nShellCommand = FileDDE;
    } else if (Equal(param, "Embedding")) {
        m_bRunEmbedded = TRUE;
        m_bShowSplash = FALSE;
    } else if (Equal(param, "Automation")) {
        m_bRunAutomated = TRUE;
        m_bShowSplash = FALSE;
    }
}

void CCommandLineInfo::ParseParamNotFlag(const char* param) {
    if (m_strFileName.empty()) {
        m_strFileName = param;
    } else if (m_nShellCommand == FilePrintTo && m_strPrinterName.empty()) {
        m_strPrinterName = param;
    } else if (m_nShellCommand == FilePrintTo && m_strDriverName.empty()) {
        m_strDriverName = param;
    } else if (m_nShellCommand == FilePrintTo && m_strPortName.empty()) {
        m_strPortName = param;
    }
}

void CCommandLineInfo::ParseLast(BOOL isLast) {
    if (isLast != FALSE && m_nShellCommand == FileNew && !m_strFileName.empty()) {
        m_nShellCommand = FileOpen;
    }
}

void ParseCommandLine(CCommandLineInfo& info, const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // '/' starts a switch as '-' does, except in an absolute path ("/srv/Tavimo.xml"),
        // which on this system is a plain parameter.
        const bool isFlag =
            !arg.empty() &&
            (arg[0] == '-' || (arg[0] == '/' && arg.find('/', 1) == std::string::npos));
        const char* param = isFlag ? arg.c_str() + 1 : arg.c_str();
        info.ParseParam(param, isFlag ? TRUE : FALSE, i + 1 == args.size() ? TRUE : FALSE);
    }
}

namespace platform {
void SetCommandLine(const std::vector<std::string>& argv) {
    g_commandLine.clear();
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0) {
            g_commandLine += ' ';
        }
        g_commandLine += argv[i];
    }
}

const std::string& GetCommandLineA() {
    return g_commandLine;
}
}  // namespace platform
