#include "app/TavimoApp.h"

#include <QApplication>
#include <cstdio>
#include <filesystem>

#include "app/ExitStatus.h"
#include "app/QtPromptService.h"
#include "app/TavimoDlg.h"
#include "attitude/AttitudeControls.h"
#include "platform/CommandLine.h"

namespace {
CTavimoApp* g_app = nullptr;
}

CTavimoApp::CTavimoApp(std::vector<std::string> argv) : m_argv(std::move(argv)) {
    g_app = this;
    m_log.SetModuleName("Tavimo");
    m_log.SetObjectName("CTavimoApp");
    m_log.EnableTrace(false);
}

CTavimoApp::~CTavimoApp() {
    g_app = nullptr;
}

CTavimoApp* CTavimoApp::Instance() {
    return g_app;
}

std::string CTavimoApp::ModulePath(const std::string& argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        return self.string();
    }
    return std::filesystem::absolute(argv0, ec).string();
}

BOOL CTavimoApp::InitATL() {
    m_bATLInited = TRUE;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        m_bATLInited = FALSE;
        return FALSE;
    }
    m_module =
        std::make_unique<CTavimoServerModule>(ModulePath(m_argv.empty() ? "tavimo" : m_argv[0]));

    switch (CTavimoServerModule::ScanCommandLine(platform::GetCommandLineA())) {
        case CTavimoServerModule::Switch::UnregServer:
            m_module->UnregisterServer();
            m_module.reset();
            m_bATLInited = FALSE;
            CoUninitialize();
            return FALSE;
        case CTavimoServerModule::Switch::RegServer:
            m_module->RegisterServer();  // the process ends whatever the outcome
            m_module.reset();
            m_bATLInited = FALSE;
            CoUninitialize();
            return FALSE;
        case CTavimoServerModule::Switch::None:
            break;
    }
    if (FAILED(m_module->RegisterClassObjects())) {
        m_module.reset();
        m_bATLInited = FALSE;
        CoUninitialize();
        return FALSE;
    }
    return TRUE;
}

BOOL CTavimoApp::InitInstance() {
    m_log.Trace("InitInstance");
    if (InitATL() == FALSE) {
        return FALSE;
    }
    m_log.Trace("InitInstance", "Before Parse Command Line");
    ParseCommandLine(m_cmdInfo, m_argv);
    if (m_cmdInfo.m_bRunEmbedded != FALSE || m_cmdInfo.m_bRunAutomated != FALSE) {
        // Serving objects only: our class table is the process's own, so no other process
        // can ever reach them. Say so and end, rather than run a mode that pretends.
        m_log.Trace("InitInstance", "Serve-only mode requested: not available");
        std::fprintf(stderr, "%s\n", kServeOnlyUnavailable);
        m_exitCode = kExitServeOnlyUnavailable;
        return FALSE;
    }
    m_log.Trace("InitInstance", "After Parse Command Line");
    {
        // The window's message boxes, and the controls it hosts, for as long as it runs.
        attitude::CAttitudeControlsRegistration attitudeControls;
        CTavimoDlg dlg(m_cmdInfo);
        CQtPromptService prompts(&dlg);
        platform::SetPromptService(&prompts);
        m_log.Trace("InitInstance", "before DoModal()");
        dlg.DoModal();
        m_log.Trace("InitInstance", "After DoModal()");
        m_exitCode = dlg.ExitCode();
        platform::SetPromptService(nullptr);
    }
    return FALSE;
}

int CTavimoApp::ExitInstance() {
    if (m_bATLInited != FALSE) {
        m_module.reset();  // revokes the class objects
        CoUninitialize();
        m_bATLInited = FALSE;
    }
    return m_exitCode;
}
