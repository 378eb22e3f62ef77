#include "app/AttitudeDlg.h"

#include <QCloseEvent>

#include "app/ControlHost.h"
#include "app/TavimoDlg.h"
#include "app/TavimoIcon.h"
#include "attitude/AttitudeControls.h"

CControlWindow::CControlWindow(UINT templateId, const char* caption, HWND mainWnd)
    : CResizeableDialog(templateId, nullptr), m_mainWnd(mainWnd) {
    setWindowTitle(caption);
    setWindowIcon(TavimoIcon());
    setProperty("ctrlId", templateId);
    m_bResizeable = 1;
    resize(260, 260);
}

CControlWindow::~CControlWindow() {
    // The control's widget goes with this window; the control object follows.
    m_object.Release();
}

bool CControlWindow::CreateControl(const char* progId, int controlId) {
    m_pControl = CreateHostedControl(progId, this, m_object);
    if (m_pControl == nullptr) {
        return false;
    }
    m_pControl->setProperty("ctrlId", controlId);
    OnInitDialog();
    // The control keeps filling the client area as the window is resized.
    GetResizer().Add(m_pControl, 0, 0, 100, 100);
    return true;
}

void CControlWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
    PostMessage(m_mainWnd, WM_TAVIMO_ATTITUDE_CLOSED, 0, reinterpret_cast<LPARAM>(this));
}

CAttitudeDlg::CAttitudeDlg(HWND mainWnd) : CControlWindow(IDD_ATTITUDE, "Attitude", mainWnd) {}

CAttitudeDlg* CAttitudeDlg::Create(HWND mainWnd) {
    auto* dlg = new CAttitudeDlg(mainWnd);
    if (!dlg->CreateControl(attitude::kAttitudeCtrlProgId, IDC_ATTITUDE_CTRL)) {
        delete dlg;
        return nullptr;
    }
    dlg->show();
    return dlg;
}

void CAttitudeDlg::SetAttitude(float heading, float roll, float pitch) {
    CComPtr<IAttitudeCtrl> control;
    if (SUCCEEDED(m_object.QueryInterface(attitude::IID_IAttitudeCtrl, &control))) {
        control->SetAttitude(heading, roll, pitch);
    }
}

C3DViewDlg::C3DViewDlg(HWND mainWnd) : CControlWindow(IDD_3DVIEW, "3D View", mainWnd) {}

C3DViewDlg* C3DViewDlg::Create(HWND mainWnd) {
    auto* dlg = new C3DViewDlg(mainWnd);
    if (!dlg->CreateControl(attitude::kView3DCtrlProgId, IDC_3DVIEW_CTRL)) {
        delete dlg;
        return nullptr;
    }
    dlg->show();
    return dlg;
}

void C3DViewDlg::SetRotationMatrix(const float* matrix) {
    CComPtr<IView3DCtrl> control;
    if (matrix != nullptr &&
        SUCCEEDED(m_object.QueryInterface(attitude::IID_IView3DCtrl, &control))) {
        control->SetRotationMatrix(matrix, 9);
    }
}

void C3DViewDlg::SetHeadingOffset(float degrees) {
    CComPtr<IView3DCtrl> control;
    if (SUCCEEDED(m_object.QueryInterface(attitude::IID_IView3DCtrl, &control))) {
        control->SetHeadingOffset(degrees);
    }
}
