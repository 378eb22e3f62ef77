#include "app/TavimoDlg.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

CTavimoDlg::CTavimoDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Tavimo");
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}
