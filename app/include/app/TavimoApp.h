// The application object: decides from the command line whether the process registers
// or unregisters its COM server and ends, only serves COM objects, or shows the main
// dialog modally and ends when it closes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/ServerModule.h"
#include "interfaces/ErrorLog.h"
#include "utilon/CommandLineInfoEx.h"

// What -Embedding and -Automation print before the process ends with
// kExitServeOnlyUnavailable.
inline constexpr const char* kServeOnlyUnavailable =
    "Tavimo: -Embedding/-Automation (serve objects to other programs only) is not available: "
    "this build serves no outside clients. Start tavimo without it.";

class CTavimoApp {
public:
    // argv as the process got it; argv[0] names the executable.
    explicit CTavimoApp(std::vector<std::string> argv);
    ~CTavimoApp();

    // The start-up sequence. FALSE ends the process after ExitInstance (the window runs
    // modally inside it; -Embedding and -Automation end at once with
    // kExitServeOnlyUnavailable); TRUE would keep it in the message loop.
    BOOL InitInstance();
    int ExitInstance();

    const CCommandLineInfoEx& CommandLine() const { return m_cmdInfo; }
    CErrorLog& Log() { return m_log; }
    // The exit status the main dialog asked for (non-zero when it quit on a lost sensor).
    void SetExitCode(int code) { m_exitCode = code; }

    static CTavimoApp* Instance();
    // The executable's absolute path.
    static std::string ModulePath(const std::string& argv0);

private:
    // The server-module set-up; FALSE ends the process.
    BOOL InitATL();

    CCommandLineInfoEx m_cmdInfo;
    CErrorLog m_log;
    BOOL m_bATLInited = FALSE;
    std::vector<std::string> m_argv;
    std::unique_ptr<CTavimoServerModule> m_module;
    int m_exitCode = 0;
};
