// Tavimo: tavimo [Qt options] [config.xml] [-Embedded] [-RegServer | -UnregServer]
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/ServiceWatchdog.h"
#include "app/TavimoApp.h"
#include "app/TavimoDlg.h"
#include "interfaces/ErrorLog.h"
#include "platform/CommandLine.h"
#include "platform/Messages.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Scheduling.h"

namespace {
// SIGTERM (a service manager stopping the module) and SIGINT end the program the way its
// Exit command does, so the settings are saved and the sensor is stopped; SIGHUP (a
// service manager's reload) reads the configuration file again.
void InstallTerminationHandling(QApplication& app) {
    const int terminationSignals = platform::TerminationSignalDescriptor();
    if (terminationSignals < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(terminationSignals, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated,
                     [terminationSignals](QSocketDescriptor, QSocketNotifier::Type) {
                         const platform::SignalsReceived got =
                             platform::ReadSignals(terminationSignals);
                         if (got.terminate) {
                             if (!PostMessage(AfxGetMainWnd(), WM_QUIT, 0, 0)) {
                                 QApplication::quit();
                             }
                         } else if (got.reload) {
                             PostMessage(AfxGetMainWnd(), WM_TAVIMO_RELOAD_SETTINGS, 0, 0);
                         }
                     });
}

// The offscreen platform says on every window that it cannot pass size hints on.
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains("does not support propagateSizeHints")) {
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}
}  // namespace

int main(int argc, char** argv) {
    // Without a display the module runs headless, as a service does.
    if (!platform::EnvironmentValue("QT_QPA_PLATFORM") && !platform::EnvironmentValue("DISPLAY") &&
        !platform::EnvironmentValue("WAYLAND_DISPLAY")) {
        platform::SetEnvironmentValue("QT_QPA_PLATFORM", "offscreen");
    }
    qInstallMessageHandler(FilterQtMessages);
    // Qt takes its own options (-platform, -display, -style, ...) out of argv first; the
    // module's command line, and its raw-line switch scan, are what is left.
    QApplication qapp(argc, argv);
    std::vector<std::string> args(argv, argv + argc);
    platform::SetCommandLine(args);
    QApplication::setApplicationName("Tavimo");
    InstallTerminationHandling(qapp);

    // The threads from sample to byte run real-time where the system grants it; which it
    // is goes once into the trace and the output (a service's journal).
    const platform::SchedulingReport scheduling = platform::SetUpRealTime();
    {
        CErrorLog log;
        log.SetModuleName("Tavimo");
        log.SetObjectName("main");
        log.TraceNow("Scheduling", "%s", scheduling.text.c_str());
        std::printf("Tavimo: %s\n", scheduling.text.c_str());
        std::fflush(stdout);
    }
    // Under a service manager: ready at the first telegram, pings while data flows.
    CServiceWatchdog watchdog;
    watchdog.Start();

    CTavimoApp app(args);
    if (app.InitInstance() != FALSE) {
        QApplication::exec();
    }
    const int exitCode = app.ExitInstance();
    watchdog.Stop();
    return exitCode;
}
