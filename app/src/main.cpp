// Tavimo: tavimo [config.xml] [-Embedded] [-RegServer | -UnregServer]
#include <QApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/TavimoApp.h"
#include "platform/CommandLine.h"

int main(int argc, char** argv) {
    // Without a display the module runs headless, as a service does.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    std::vector<std::string> args(argv, argv + argc);
    platform::SetCommandLine(args);
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Tavimo");

    CTavimoApp app(args);
    if (app.InitInstance() != FALSE) {
        QApplication::exec();
    }
    return app.ExitInstance();
}
