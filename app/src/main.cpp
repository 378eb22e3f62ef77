// Tavimo: tavimo [config.xml] [-Embedded] [-RegServer | -UnregServer]
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/ServiceWatchdog.h"
#include "app/TavimoApp.h"
#include "interfaces/ErrorLog.h"
#include "platform/CommandLine.h"
#include "platform/Messages.h"
#include "platform/Scheduling.h"

namespace {
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

// SIGTERM (a service manager stopping the module), SIGINT and SIGHUP end the program
// the way its Exit command does, so the settings are saved and the sensor is stopped.
void InstallTerminationHandling(QApplication& app) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(
        notifier, &QSocketNotifier::activated, [](QSocketDescriptor, QSocketNotifier::Type) {
            char buffer[16];
            [[maybe_unused]] const ssize_t n = read(g_signalPipe[0], buffer, sizeof(buffer));
            if (!PostMessage(AfxGetMainWnd(), WM_QUIT, 0, 0)) {
                QApplication::quit();
            }
        });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(sig, &action, nullptr);
    }
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
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    qInstallMessageHandler(FilterQtMessages);
    std::vector<std::string> args(argv, argv + argc);
    platform::SetCommandLine(args);
    QApplication qapp(argc, argv);
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
