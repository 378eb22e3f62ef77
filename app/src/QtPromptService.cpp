#include "app/QtPromptService.h"

#include <QMessageBox>

int CQtPromptService::Show(const std::string& text, const std::string& caption, UINT type) {
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
