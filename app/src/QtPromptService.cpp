#include "app/QtPromptService.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

int CQtPromptService::Show(const std::string& text, const std::string& caption, UINT type) {
    // Headless (a service, no display): nobody can answer, so the module must not wait.
    // The text goes to standard error and the question takes its safe answer, "No".
    if (QGuiApplication::platformName() == "offscreen") {
        const bool question = (type & 0x0F) == MB_YESNO;
        std::fprintf(stderr, "%s: %s%s\n", caption.c_str(), text.c_str(),
                     question ? " [no one can answer here: the answer taken is No]" : "");
        return question ? IDNO : IDOK;
    }
    QMessageBox box(m_parent);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    if ((type & 0xF0) == MB_ICONEXCLAMATION) {
        box.setIcon(QMessageBox::Warning);
    } else if ((type & 0xF0) == MB_ICONINFORMATION) {
        box.setIcon(QMessageBox::Information);
    } else if ((type & 0xF0) == MB_ICONQUESTION) {
        box.setIcon(QMessageBox::Question);
    }
    if ((type & 0x0F) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}
