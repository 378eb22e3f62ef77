// How a window reaches the widget of a control it created through the COM runtime (the
// way a dialog hosts an ActiveX control): ask the control object for IControlWidget.
// The control object owns its widget: releasing the last reference deletes it, wherever
// it was placed; a window destroyed first deletes the widget with it, and the control
// then answers E_UNEXPECTED.
#pragma once

#include "platform/Com.h"

class QWidget;

class IControlWidget : public IUnknown {
public:
    // The control's widget; null once its window has destroyed it.
    virtual QWidget* GetWidget() = 0;
};

// {FF52A03B-C427-42CF-A39B-6262E872FB05}
inline const IID IID_IControlWidget = MakeGuid("{FF52A03B-C427-42CF-A39B-6262E872FB05}");
