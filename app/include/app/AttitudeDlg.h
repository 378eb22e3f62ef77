// The "Compass" and "3D View" windows: resizable windows that hold the attitude control
// (id 13707) or the 3-D view control (id 13747) filling their client area. Closing one
// posts WM_USER+102 to the main window, which destroys it.
#pragma once

#include "platform/Com.h"
#include "platform/Messages.h"
#include "utilonui/ResizeableDialog.h"

class IAttitudeCtrl;
class IView3DCtrl;

constexpr UINT IDD_ATTITUDE = 13659;
constexpr UINT IDD_3DVIEW = 13661;
constexpr int IDC_ATTITUDE_CTRL = 13707;
constexpr int IDC_3DVIEW_CTRL = 13747;

class CControlWindow : public CResizeableDialog {
    Q_OBJECT
public:
    CControlWindow(UINT templateId, const char* caption, HWND mainWnd);
    ~CControlWindow() override;
    // Creates the control by ProgID into the window; false when it is not registered.
    bool CreateControl(const char* progId, int controlId);
    QWidget* ControlWidget() const { return m_pControl; }

protected:
    void closeEvent(QCloseEvent* event) override;
    CComPtr<IUnknown> m_object;

private:
    HWND m_mainWnd;
    QWidget* m_pControl = nullptr;
};

class CAttitudeDlg : public CControlWindow {
    Q_OBJECT
public:
    // The shown window, or null when the attitude control is not registered.
    static CAttitudeDlg* Create(HWND mainWnd);
    void SetAttitude(float heading, float roll, float pitch);

private:
    explicit CAttitudeDlg(HWND mainWnd);
};

class C3DViewDlg : public CControlWindow {
    Q_OBJECT
public:
    static C3DViewDlg* Create(HWND mainWnd);
    void SetRotationMatrix(const float* matrix);
    void SetHeadingOffset(float degrees);

private:
    explicit C3DViewDlg(HWND mainWnd);
};
