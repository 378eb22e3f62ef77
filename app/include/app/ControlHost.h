// Places a control created through the COM runtime into a window: the control object is
// made by ProgID, asked for its widget (IControlWidget), and the widget fills the host.
#pragma once

#include "platform/Com.h"

class QWidget;

// The hosted widget, or null when the control is not registered or has no widget; object
// receives the control, which owns the widget and must outlive its use.
QWidget* CreateHostedControl(const char* progId, QWidget* host, CComPtr<IUnknown>& object);
