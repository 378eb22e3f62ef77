// The main window's end of PostMessage: a message posted from any thread becomes a
// queued Qt event, handled on the window's own thread by the handler the window gives.
#pragma once

#include <QObject>
#include <functional>

#include "platform/Messages.h"

class CQtMessageTarget : public QObject, public IMessageTarget {
    Q_OBJECT
public:
    using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
    explicit CQtMessageTarget(Handler handler, QObject* parent = nullptr);
    bool Post(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    void customEvent(QEvent* event) override;

private:
    Handler m_handler;
};
