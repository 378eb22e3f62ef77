// The main dialog: caption "Tavimo". Until the full window lands this is the window with
// its caption and an OK button.
#pragma once

#include <QDialog>

class CTavimoDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTavimoDlg(QWidget* parent = nullptr);
};
