// The resizing engine: one resizer watches one window (a dialog, a property sheet or a
// property page) and, on every change of its size, moves and sizes the child controls in
// its list by their proportions. Rounding remainders are carried from one change to the
// next, so a control growing by half of every change does not drift.
//
// It watches the window through an event filter (the window keeps its own handling), can
// make a fixed-size window resizable, shows a size grip in the lower right corner and
// holds minimum and maximum tracking sizes (the window's minimum and maximum size; -1 is
// "the window's own value"). Controls are found by their control id, the dynamic
// property "ctrlId" that dialog templates give them. Windows resized this way place
// their controls themselves: they have no Qt layout.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QSizeGrip>
#include <memory>
#include <vector>

#include "platform/Prompt.h"  // IDOK, IDCANCEL

class QWidget;
class CResizeablePropertySheet;

// The dialog item with the control id (dynamic property "ctrlId") among the window's
// descendants, or null.
QWidget* GetDlgItem(const QWidget* window, int id);
// The control id of a widget, 0 when it has none.
int GetDlgCtrlID(const QWidget* control);
void SetDlgCtrlID(QWidget* control, int id);

// One control of the list: its remainders (in 1/scale pixel) and proportions.
struct CRPItemState {
    QPointer<QWidget> hControl;
    int nLeftRemainder = 0;
    int nTopRemainder = 0;
    int nWidthRemainder = 0;
    int nHeightRemainder = 0;
    int nMoveX = 0;
    int nMoveY = 0;
    int nSizeX = 0;
    int nSizeY = 0;
};
using CResizeArray = std::vector<CRPItemState>;

// A table entry for Add(const CResizeInfo*); a table ends at the first id below 1.
struct CResizeInfo {
    int nCtrlId;
    int nMoveX;
    int nMoveY;
    int nSizeX;
    int nSizeY;
};

// Control ids of a property sheet's own controls.
constexpr int IDHELP = 9;
constexpr int AFX_IDC_TAB_CONTROL = 12320;
constexpr int ID_APPLY_NOW = 12321;
constexpr int ID_WIZBACK = 12323;
constexpr int ID_WIZNEXT = 12324;
constexpr int ID_WIZFINISH = 12325;
constexpr int ID_WIZETCHEDBAR = 12326;
constexpr int ID_WIZHEADERLINE = 12327;

// The window property that holds the resizer of a window.
constexpr const char* kResizerProperty = "___CResizer___Class___";

class CResizer : public QObject {
    Q_OBJECT
public:
    CResizer();
    CResizer(QWidget* window, int enable, int scale, int propertyPage);
    CResizer(QWidget* window, int enable, int scale);
    ~CResizer() override;

    // 0 when already created, for a null window or a scale below 1.
    int Create(QWidget* window, int enable, int scale, int propertyPage);
    // propertyPage: whether the window is a CResizeablePropertyPage.
    int Create(QWidget* window, int enable = 1, int scale = 100);
    bool IsCreated() const { return m_pList != nullptr; }

    // 0 when not created or when the state does not change.
    int SetEnabled(int enable);
    int GetEnabled() const { return m_bEnabled; }
    int SetGripEnabled(int enable);  // always 0
    int GetGripEnabled() const { return m_bGripEnabled; }
    // The size grip, null until the grip is first shown.
    QSizeGrip* GetSizeGrip() const { return m_pGrip; }
    QRect GetGripRect() const { return m_rcGrip; }

    // Every proportion in 0..scale, moveX + sizeX <= scale, moveY + sizeY <= scale, a
    // control that exists; else 0 and nothing added.
    int Add(QWidget* control, int moveX, int moveY, int sizeX, int sizeY);
    int Add(int id, int moveX, int moveY, int sizeX, int sizeY);
    int Add(const CResizeInfo* table);
    int Remove(QWidget* control);
    int Remove(int id);
    int GetCount() const { return m_pList != nullptr ? static_cast<int>(m_pList->size()) : 0; }
    const CRPItemState* GetItem(QWidget* control) const;

    // The window rectangle recorded when the resizer was last created, enabled or disabled.
    int GetWindowRect(QRect* rect) const;
    int SetMinimumTrackingSize(const QSize& size);
    int SetMaximumTrackingSize(const QSize& size);
    // The window's current size becomes the minimum.
    int SetMinimumTrackingSize();
    QSize GetMinimumTrackingSize() const { return {m_nMinTrackX, m_nMinTrackY}; }
    QSize GetMaximumTrackingSize() const { return {m_nMaxTrackX, m_nMaxTrackY}; }

    static CResizer* GetResizeCtrl(const QWidget* window);

    int PropertySheetPrepare(CResizeablePropertySheet* sheet);
    int PropertySheetAddButtons(CResizeablePropertySheet* sheet, int moveX, int moveY, int sizeX,
                                int sizeY);
    int PropertySheetAddPages(CResizeablePropertySheet* sheet, int moveX, int moveY, int sizeX,
                              int sizeY);
    int WizardAddEtchedBar(CResizeablePropertySheet* sheet, int moveX, int moveY, int sizeX,
                           int sizeY);
    int WizardSaveMargins(CResizeablePropertySheet* sheet);
    int WizardAdjustPage(CResizeablePropertySheet* sheet);

    // One coordinate of one control: value moves by delta x proportion / scale, the part
    // below a pixel carried in the remainder. Returns 1 when anything changed.
    int CalcValue(int delta, int proportion, int& remainder, int& value, int notNegative) const;
    // Moves and sizes every control in list order for a new client size.
    void Resize(int newWidth, int newHeight);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Reset();
    void ChangeStyle(bool addBorder);
    void ApplyTrackingSizes();
    void UpdateGrip();

    int m_bNativeFrame = 0;
    int m_bEnabled = 0;
    int m_nScale = 100;
    QPointer<QWidget> m_hWnd;
    int m_nLastWidth = 0;
    int m_nLastHeight = 0;
    std::unique_ptr<CResizeArray> m_pList;
    int m_nMaxTrackX = -1;
    int m_nMaxTrackY = -1;
    int m_nMinTrackX = -1;
    int m_nMinTrackY = -1;
    int m_bResizing = 0;
    QRect m_rcGrip;
    int m_bGripEnabled = 0;
    QRect m_rcWindow;
    std::unique_ptr<QRect> m_pWizardMargins;

    // The window's own size limits while enabled, and those before a border was added.
    QSize m_systemMin;
    QSize m_systemMax;
    QSize m_savedMin;
    QSize m_savedMax;
    bool m_bBorderAdded = false;
    QPointer<QSizeGrip> m_pGrip;
};
