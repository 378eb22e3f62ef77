#include "attitude/AttitudeControls.h"

#include <QApplication>
#include <QPointer>
#include <algorithm>
#include <array>
#include <atomic>

#include "attitude/CompassAttitudeWidget.h"
#include "attitude/VesselViewWidget.h"

namespace {
// What both controls share: reference counting, the interfaces every control answers and
// the widget it owns. Interface is the control's own interface, answered for iid.
template <class Widget, class Interface>
class CWidgetControl : public Interface, public IControlWidget {
    TAVIMO_COM_REFCOUNT()
public:
    explicit CWidgetControl(const IID& iid) : m_iid(iid), m_widget(new Widget) {}
    ~CWidgetControl() override { delete m_widget.data(); }  // null when its window took it

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IControlWidget) {
            return ComHandOut<IControlWidget>(this, object);
        }
        if (iid == m_iid) {
            return ComHandOut<Interface>(this, object);
        }
        return ComNoInterface(object);
    }
    QWidget* GetWidget() override { return m_widget.data(); }

protected:
    Widget* widget() const { return m_widget.data(); }

private:
    const IID m_iid;
    QPointer<Widget> m_widget;
};

// A control can only live where a Qt widget application runs, and is never aggregated.
template <class Control>
HRESULT CreateControl(IUnknown* outer, REFIID iid, void** object) {
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return E_UNEXPECTED;
    }
    CComPtr<IControlWidget> control(static_cast<IControlWidget*>(new Control));
    return control->QueryInterface(iid, object);
}

class CAttitudeCtrl final : public CWidgetControl<CCompassAttitudeWidget, IAttitudeCtrl> {
public:
    CAttitudeCtrl() : CWidgetControl(attitude::IID_IAttitudeCtrl) {}

    HRESULT SetAttitude(float heading, float roll, float pitch) override {
        if (widget() == nullptr) {
            return E_UNEXPECTED;
        }
        return widget()->SetAttitude(heading, roll, pitch) ? S_OK : E_INVALIDARG;
    }
    HRESULT GetAttitude(float* heading, float* roll, float* pitch) override {
        if (heading == nullptr || roll == nullptr || pitch == nullptr) {
            return E_POINTER;
        }
        if (widget() == nullptr) {
            return E_UNEXPECTED;
        }
        *heading = widget()->Heading();
        *roll = widget()->Roll();
        *pitch = widget()->Pitch();
        return S_OK;
    }
};

class CView3DCtrl final : public CWidgetControl<CVesselViewWidget, IView3DCtrl> {
public:
    CView3DCtrl() : CWidgetControl(attitude::IID_IView3DCtrl) {}

    HRESULT SetRotationMatrix(const float* matrix, ULONG count) override {
        if (matrix == nullptr) {
            return E_POINTER;
        }
        if (count != 9) {
            return E_INVALIDARG;
        }
        if (widget() == nullptr) {
            return E_UNEXPECTED;
        }
        std::array<float, 9> elements{};
        std::copy(matrix, matrix + 9, elements.begin());
        return widget()->SetRotationMatrix(elements) ? S_OK : E_INVALIDARG;
    }
    HRESULT SetHeadingOffset(float degrees) override {
        if (widget() == nullptr) {
            return E_UNEXPECTED;
        }
        return widget()->SetHeadingOffset(degrees) ? S_OK : E_INVALIDARG;
    }
    HRESULT GetHeadingOffset(float* degrees) override {
        if (degrees == nullptr) {
            return E_POINTER;
        }
        if (widget() == nullptr) {
            return E_UNEXPECTED;
        }
        *degrees = widget()->HeadingOffset();
        return S_OK;
    }
};
}  // namespace

namespace attitude {
CComClassRegistration RegisterAttitudeCtrl() {
    return CComClassRegistration(CLSID_AttitudeCtrl, kAttitudeCtrlProgId,
                                 CreateControl<CAttitudeCtrl>);
}

CComClassRegistration RegisterView3DCtrl() {
    return CComClassRegistration(CLSID_View3DCtrl, kView3DCtrlProgId, CreateControl<CView3DCtrl>);
}
}  // namespace attitude
