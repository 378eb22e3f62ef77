#include "app/QtMessageTarget.h"

#include <QCoreApplication>
#include <QEvent>

namespace {
const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

class CPostedMessageEvent : public QEvent {
public:
    CPostedMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(kPostedMessage), m_message(message), m_wParam(wParam), m_lParam(lParam) {}
    UINT m_message;
    WPARAM m_wParam;
    LPARAM m_lParam;
};
}  // namespace

CQtMessageTarget::CQtMessageTarget(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {}

bool CQtMessageTarget::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    // postEvent is thread-safe and takes ownership of the event.
    QCoreApplication::postEvent(this, new CPostedMessageEvent(message, wParam, lParam));
    return true;
}

void CQtMessageTarget::customEvent(QEvent* event) {
    if (event->type() == kPostedMessage && m_handler) {
        const auto* posted = static_cast<CPostedMessageEvent*>(event);
        m_handler(posted->m_message, posted->m_wParam, posted->m_lParam);
    }
}
