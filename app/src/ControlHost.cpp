#include "app/ControlHost.h"

#include <QVBoxLayout>
#include <QWidget>

#include "platform/ControlWidget.h"

QWidget* CreateHostedControl(const char* progId, QWidget* host, CComPtr<IUnknown>& object) {
    object.Release();
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    CComPtr<IControlWidget> control;
    if (FAILED(object.QueryInterface(IID_IControlWidget, &control)) ||
        control->GetWidget() == nullptr) {
        object.Release();
        return nullptr;
    }
    QWidget* widget = control->GetWidget();
    auto* layout = qobject_cast<QVBoxLayout*>(host->layout());
    if (layout == nullptr) {
        layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    layout->addWidget(widget);
    return widget;
}
