// The LED indicator: one round lamp in an active colour (lit) or a dimmed version of it
// (unlit), with highlight arcs and a bezel on a flat background. A container switches it
// on and off, makes it flash, or lights it for a given time.
//
// Two ways to use it:
//  - as a widget: `new CLedCtrl(parent)` and the member functions below;
//  - as a control created by ProgID, the way a dialog hosts an ActiveX control:
//
//        CLSID clsid;
//        CLSIDFromProgID("LED.LedCtrl.1", &clsid);
//        CComPtr<ILedCtrl> led;
//        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ILedCtrl, (void**)&led);
//        CComPtr<IControlWidget> host;
//        led.QueryInterface(IID_IControlWidget, &host);
//        QWidget* w = host->GetWidget();   // place it: w->setParent(dialog), a layout, ...
//        led->SetActive(VARIANT_TRUE);     // or IDispatch::Invoke with the dispatch ids
//
//    The COM object owns the widget: releasing the last reference deletes it, wherever it
//    was placed. When the container deletes the widget first (a parent going away), the
//    object stays valid and its calls answer E_UNEXPECTED.
//
// The class registers itself in the process's class table (CLSID and ProgID) when the
// library is loaded; led::DllRegisterServer() writes the registry entries and the type
// library for containers that look the control up in the registry.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "platform/Com.h"
#include "platform/ControlWidget.h"
#include "platform/Types.h"

// 0xAARRGGBB, the way the drawing code holds colours (COLORREF has red in the low byte).
using ARGB = std::uint32_t;

// {63250224-7F96-455A-9ED8-DF4CBBCDBE91}
inline const CLSID CLSID_LedCtrl = MakeGuid("{63250224-7F96-455A-9ED8-DF4CBBCDBE91}");
// {7FC6C6E6-F218-4708-8624-0DB6CA439DF3}: the (empty) property page
inline const CLSID CLSID_LedPropPage = MakeGuid("{7FC6C6E6-F218-4708-8624-0DB6CA439DF3}");
// {79315A9F-3923-4408-B771-34A2A0B91C99}, version 1.0
inline const GUID LIBID_Led = MakeGuid("{79315A9F-3923-4408-B771-34A2A0B91C99}");
// {ABE22B50-14CA-4E4C-9C13-69AD06ED9569}: the dispatch interface
inline const IID IID_ILedCtrl = MakeGuid("{ABE22B50-14CA-4E4C-9C13-69AD06ED9569}");
// {2B0E7CB2-5603-4396-AA03-8E16CB51CDE0}: the event interface (no events are fired)
inline const IID DIID_ILedCtrlEvents = MakeGuid("{2B0E7CB2-5603-4396-AA03-8E16CB51CDE0}");

constexpr const char* kLedProgId = "LED.LedCtrl.1";
constexpr const char* kLedPropPageProgId = "LED.LedPropPage.1";

constexpr UINT IDS_LED = 6600;            // type name of the control
constexpr UINT IDB_LED = 6602;            // toolbox bitmap
constexpr DWORD kLedMiscStatus = 131473;  // recompose on resize, inside-out, ...

// Dispatch ids of the control's members, in the order of its dispatch interface.
enum ELedDispId : DISPID {
    DISPID_LED_ACTIVECOLOR = 1,
    DISPID_LED_BACKGROUNDCOLOR = 2,
    DISPID_LED_SETACTIVE = 3,
    DISPID_LED_SETFLASHING = 4,
    DISPID_LED_PULSE = 5,
};

namespace led {
constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201);

// The library's server entry points. DllRegisterServer writes the class and property
// page keys and registers the type library found beside the library ("led.tlb").
HRESULT DllRegisterServer();
HRESULT DllUnregisterServer();
HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
HRESULT DllCanUnloadNow();
// Folder of the loaded library (where "led.tlb" is looked for).
std::string ModuleDirectory();
}  // namespace led

// The dispatch interface with typed slots in dispatch order, so C++ containers can call
// the members directly; Invoke reaches the same members by dispatch id.
class ILedCtrl : public IDispatch {
public:
    virtual HRESULT get_ActiveColor(COLORREF* colour) = 0;
    virtual HRESULT put_ActiveColor(COLORREF colour) = 0;
    virtual HRESULT get_BackgroundColor(COLORREF* colour) = 0;
    virtual HRESULT put_BackgroundColor(COLORREF colour) = 0;
    virtual HRESULT SetActive(VARIANT_BOOL active) = 0;
    virtual HRESULT SetFlashing(VARIANT_BOOL flashing) = 0;
    virtual HRESULT Pulse(LONG milliseconds) = 0;
};

class CLedCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFlashPeriodMs = 100;

    explicit CLedCtrl(QWidget* parent = nullptr);
    ~CLedCtrl() override;

    // "ActiveColor" and "BackgroundColor": COLORREF in and out; the top byte of a given
    // value is ignored and the colour is stored opaque.
    COLORREF GetActiveColor() const;
    void SetActiveColor(COLORREF colour);
    COLORREF GetBackgroundColor() const;
    void SetBackgroundColor(COLORREF colour);
    void SetActive(bool active);
    void SetFlashing(bool flashing);
    // Lights the lamp for the given time (flashing stopped), then switches it off.
    void Pulse(long milliseconds);

    bool IsActive() const { return m_bActive != 0; }
    bool IsFlashing() const { return m_bFlashing != 0; }
    bool GetFlashPhase() const { return m_bFlashPhase != 0; }
    bool IsPulsing() const { return m_nPulse == 1; }
    // The running timer, 0 when none.
    int GetTimerId() const { return m_nTimerId; }
    ARGB GetActiveArgb() const { return m_clrActive; }
    ARGB GetBackgroundArgb() const { return m_clrBackground; }

    // Each of red, green and blue times percent times the single-precision 0.01, rounded
    // half away from zero and kept within 0..255; alpha kept.
    static ARGB Scale(ARGB colour, int percent);
    // Every red, green or blue channel that is 0 becomes level; alpha kept.
    static ARGB FillZeroChannels(ARGB colour, BYTE level);
    static ARGB ArgbFromColorRef(COLORREF colour);
    static COLORREF ColorRefFromArgb(ARGB colour);

    // Body side and rim figures for a client size: s = min(w, h) - 2, a = max(s / 4, 4),
    // A = round(s / 30) at least 1, B = round(s / 15) at least 1.5, bezel pen w.
    struct Geometry {
        int s = 0;
        int a = 0;
        double penA = 0;
        double penB = 0;
        int bezelWidth = 0;
        QRect body;   // centred square of side s
        QRect bezel;  // centred square of side s - w / 4
    };
    static Geometry CalcGeometry(const QSize& client);

    // A lamp of the size the dialogs give it.
    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void OnDraw(class QPainter& painter, const QRect& bounds);
    void StopTimer();

    ARGB m_clrActive;
    ARGB m_clrBackground;
    BYTE m_bActive = 0;
    BYTE m_bFlashPhase = 0;
    BYTE m_bFlashing = 0;
    int m_nTimerId = 0;
    int m_nPulse = 0;
};
