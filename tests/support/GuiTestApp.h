// Widget tests: the one application object of a test process, made on first use, and
// helpers to resize shown windows and save screenshots for a person to look at.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <string>

#include "TestSupport.h"

// The application goes with the test environment, before the exit handlers run and
// Qt's own globals are gone.
class CGuiAppEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        delete m_app;
        m_app = nullptr;
    }
    QApplication& App() {
        static int argc = 1;
        static char name[] = "tavimo_gui_tests";
        static char* argv[] = {name, nullptr};
        if (m_app == nullptr) {
            m_app = new QApplication(argc, argv);
        }
        return *m_app;
    }

private:
    QApplication* m_app = nullptr;
};

inline CGuiAppEnvironment* const g_guiAppEnvironment =
    static_cast<CGuiAppEnvironment*>(::testing::AddGlobalTestEnvironment(new CGuiAppEnvironment));

inline QApplication& GuiApp() {
    return g_guiAppEnvironment->App();
}

// Resizes a shown window and lets the platform deliver the new size.
inline void ResizeWindow(QWidget& window, int width, int height) {
    window.resize(width, height);
    QApplication::processEvents();
}

inline void SaveScreenshot(QWidget& widget, const std::string& name) {
    widget.grab().save(QString::fromStdString(tavimo_test::OutputDir() + "/" + name + ".png"));
}
