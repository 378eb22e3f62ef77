// Tavimo: tavimo [Qt options] [config.xml] [-Embedded] [-RegServer | -UnregServer]
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/TavimoApp.h"
#include "platform/CommandLine.h"
#include "platform/Messages.h"

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
    // Qt takes its own options (-platform, -display, -style, ...) out of argv first; the
    // module's command line, and its raw-line switch scan, are what is left.
    QApplication qapp(argc, argv);
    std::vector<std::string> args(argv, argv + argc);
    platform::SetCommandLine(args);
    QApplication::setApplicationName("Tavimo");
    InstallTerminationHandling(qapp);

    CTavimoApp app(args);
    if (app.InitInstance() != FALSE) {
        QApplication::exec();
    }
    return app.ExitInstance();
}
