// Dialogs, property sheets and property pages that the user can resize while their
// controls follow, each with one CResizer. A derived class sets the resizable and the
// flicker-free flags in its constructor to use them; OnInitDialog runs once, just before
// the window is first shown (a page: when it is first activated).
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "platform/Types.h"
#include "utilonui/Resizer.h"

class QFrame;
class QLabel;
class QPushButton;
class QTabWidget;

// Fills the window's background in the 3-D face colour everywhere but under its child
// windows that paint their whole area themselves (combined by exclusive-or, in Z order),
// so the background never paints over a control. Most Qt controls (labels, check boxes,
// group boxes, the size grip) show the background through: those are painted over, as
// transparent windows are, or they would stand on unpainted ground.
void PaintFlickerFreeBackground(QWidget* window);

// What every resizable window (dialog, sheet, page) shares: its resizer, the resizable
// and flicker-free flags, and the flicker-free background when both flags are set.
template <class Window>
class CResizeableWindow : public Window {
public:
    using Window::Window;
    int IsResizeable() const { return m_bResizeable; }
    CResizer& GetResizer() { return m_resizer; }

protected:
    bool IsFlickerFree() const { return m_bResizeable != 0 && m_bFlickerFree != 0; }
    void paintEvent(QPaintEvent* event) override {
        if (IsFlickerFree()) {
            PaintFlickerFreeBackground(this);
            return;
        }
        Window::paintEvent(event);
    }

    int m_bResizeable = 0;
    int m_bFlickerFree = 0;
    CResizer m_resizer;
};

// A resizable window of its own (dialog or sheet): OnInitDialog runs once, just before
// the window is first shown.
class CResizeableTopWindow : public CResizeableWindow<QDialog> {
public:
    using CResizeableWindow::CResizeableWindow;
    virtual BOOL OnInitDialog() { return TRUE; }
    void setVisible(bool visible) override;

private:
    bool m_bInitialised = false;
};

class CResizeableDialog : public CResizeableTopWindow {
    Q_OBJECT
public:
    explicit CResizeableDialog(UINT templateId, QWidget* parent = nullptr);
    ~CResizeableDialog() override;

    UINT GetTemplateId() const { return m_nTemplateId; }

    // Creates the resizer when the dialog is resizable, enables its grip and takes the
    // current size as the minimum.
    BOOL OnInitDialog() override;
    virtual void DoDataExchange() {}

private:
    UINT m_nTemplateId;
};

class CResizeablePropertySheet;

class CResizeablePropertyPage : public CResizeableWindow<QWidget> {
    Q_OBJECT
public:
    CResizeablePropertyPage();
    explicit CResizeablePropertyPage(UINT templateId, UINT captionId = 0, UINT titleId = 0,
                                     UINT subtitleId = 0);
    CResizeablePropertyPage(const QString& templateName, UINT captionId = 0, UINT titleId = 0,
                            UINT subtitleId = 0);
    ~CResizeablePropertyPage() override;

    void SetInitialisingFlag(int initialising) { m_bInitialising = initialising; }
    int IsInitialising() const { return m_bInitialising; }
    UINT GetTemplateId() const { return m_nTemplateId; }
    // The tab text (the caption string, else the window title).
    QString GetCaption() const;
    // Wizard97 header: the page shows it unless hidden (PSP_HIDEHEADER).
    void SetHideHeader(bool hide) { m_bHideHeader = hide; }
    bool GetHideHeader() const { return m_bHideHeader; }
    QString GetHeaderTitle() const;
    QString GetHeaderSubTitle() const;
    // True once OnInitDialog ran (the page was activated).
    bool IsInitialised() const { return m_bInitialised; }

    // Takes the resizable flag of its sheet and creates its resizer when set.
    virtual BOOL OnInitDialog();
    virtual BOOL OnSetActive() { return TRUE; }
    virtual BOOL OnKillActive() { return TRUE; }
    virtual void OnOK() {}
    virtual void OnCancel() {}
    virtual BOOL OnApply() { return TRUE; }

protected:
    void CommonConstruct();

    int m_bInitialising = 0;

private:
    friend class CResizeablePropertySheet;
    void InitialiseOnce();

    UINT m_nTemplateId = 0;
    QString m_templateName;
    UINT m_nCaptionId = 0;
    UINT m_nTitleId = 0;
    UINT m_nSubtitleId = 0;
    bool m_bHideHeader = false;
    bool m_bInitialised = false;
};

// Property sheet header flags.
constexpr DWORD PSH_WIZARD = 0x00000020;
constexpr DWORD PSH_WIZARD97 = 0x01000000;

// A dialog with a tab control and the sheet's buttons (OK, Cancel, Apply, Help), or in
// wizard mode Back, Next and Finish with an etched line above them and, for Wizard97, a
// header with the active page's title under which runs the header line. The pages are
// the sheet's own children, laid over the tab control's display area.
class CResizeablePropertySheet : public CResizeableTopWindow {
    Q_OBJECT
public:
    explicit CResizeablePropertySheet(UINT captionId, QWidget* parent = nullptr,
                                      int selectPage = 0);
    explicit CResizeablePropertySheet(const QString& caption, QWidget* parent = nullptr,
                                      int selectPage = 0);
    ~CResizeablePropertySheet() override;

    int AllowResize(int allow) {
        m_bResizeable = allow;
        return 1;
    }
    void SetFlickerFree(int flickerFree) { m_bFlickerFree = flickerFree; }

    // The sheet does not own its pages, as the framework's does not: the caller keeps
    // them alive as long as the sheet.
    void AddPage(CResizeablePropertyPage* page);
    // Takes the page out of the sheet (and its tab); the page is not deleted.
    void RemovePage(CResizeablePropertyPage* page);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CResizeablePropertyPage* GetPage(int index) const;
    CResizeablePropertyPage* GetActivePage() const { return GetPage(m_nActive); }
    int GetActiveIndex() const { return m_nActive; }
    int GetPageIndex(const CResizeablePropertyPage* page) const;
    BOOL SetActivePage(int index);
    BOOL SetActivePage(CResizeablePropertyPage* page) { return SetActivePage(GetPageIndex(page)); }
    void SetWizardMode() { m_dwFlags |= PSH_WIZARD; }
    void SetWizard97Mode() { m_dwFlags |= PSH_WIZARD97; }
    DWORD GetFlags() const { return m_dwFlags; }
    bool IsWizard() const { return (m_dwFlags & (PSH_WIZARD | PSH_WIZARD97)) != 0; }
    bool IsWizard97() const { return (m_dwFlags & PSH_WIZARD97) != 0; }
    QTabWidget* GetTabControl() const { return m_pTab; }

    // Sets the initialising flag on every page; whether there was any page.
    int SetInitialisingFlag(int initialising);

    // Builds the sheet's window (tab control, buttons, pages) and, when resizable, its
    // resizer with the controls' proportions. Returns TRUE.
    BOOL OnInitDialog() override;

private:
    void Build();
    // Drops a page from the list and the tabs without touching the page itself.
    void ForgetPage(CResizeablePropertyPage* page);
    void UpdateWizardButtons();
    void OnButton(int id);
    QPushButton* MakeButton(int id, const QString& text);

    QString m_caption;
    DWORD m_dwFlags = 0;
    int m_nActive = 0;
    std::vector<CResizeablePropertyPage*> m_pages;
    QTabWidget* m_pTab = nullptr;
    QFrame* m_pEtchedBar = nullptr;
    QFrame* m_pHeaderLine = nullptr;
    QLabel* m_pHeaderTitle = nullptr;
    QLabel* m_pHeaderSubTitle = nullptr;
    bool m_bBuilt = false;
};
