#include "utilonui/ResizeableDialog.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>

#include "platform/Resources.h"

namespace {
constexpr int kMargin = 7;  // dialog units of a sheet's edges, in pixels
constexpr int kButtonWidth = 80;
constexpr int kButtonGap = 6;
constexpr int kTabPadding = 4;     // the tab control's frame around a page
constexpr int kHeaderHeight = 58;  // Wizard97 header
const QSize kDefaultPageSize(320, 220);

QString LoadQString(UINT id) {
    return QString::fromStdString(LoadStringOrEmpty(id));
}

// A page's own size: what its template gave it, else what it asks for.
QSize PageSize(const QWidget* page) {
    if (page->testAttribute(Qt::WA_Resized)) {
        return page->size();
    }
    const QSize hint = page->sizeHint();
    return hint.isValid() ? hint.expandedTo(QSize(1, 1)) : kDefaultPageSize;
}

// Flicker-free windows paint their whole background themselves.
void ApplyFlickerFree(QWidget* window, bool on) {
    window->setAttribute(Qt::WA_OpaquePaintEvent, on);
}
}  // namespace

void PaintFlickerFreeBackground(QWidget* window) {
    QRegion region(window->rect());
    for (QObject* object : window->children()) {  // bottom to top: the Z order
        auto* child = qobject_cast<QWidget*>(object);
        if (child == nullptr || child->isWindow() || !child->isVisibleTo(window)) {
            continue;
        }
        const bool opaque =
            child->autoFillBackground() || child->testAttribute(Qt::WA_OpaquePaintEvent);
        if (!opaque || qobject_cast<QGroupBox*>(child) != nullptr ||
            child->testAttribute(Qt::WA_TranslucentBackground)) {
            continue;
        }
        region = region.xored(QRegion(child->geometry()));
    }
    QPainter painter(window);
    painter.setClipRegion(region);
    painter.fillRect(window->rect(), window->palette().color(QPalette::Button));
}

// ---- CResizeableDialog ------------------------------------------------------------------

void CResizeableTopWindow::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    ApplyFlickerFree(this, IsFlickerFree());
    QDialog::setVisible(visible);
}

CResizeableDialog::CResizeableDialog(UINT templateId, QWidget* parent)
    : CResizeableTopWindow(parent), m_nTemplateId(templateId) {}

CResizeableDialog::~CResizeableDialog() = default;

BOOL CResizeableDialog::OnInitDialog() {
    if (m_bResizeable != 0) {
        m_resizer.Create(this, 1, 100);
        m_resizer.SetGripEnabled(1);
        m_resizer.SetMinimumTrackingSize();
    }
    return TRUE;
}

// ---- CResizeablePropertyPage --------------------------------------------------------------

CResizeablePropertyPage::CResizeablePropertyPage() {
    CommonConstruct();
}

CResizeablePropertyPage::CResizeablePropertyPage(UINT templateId, UINT captionId, UINT titleId,
                                                 UINT subtitleId)
    : m_nTemplateId(templateId),
      m_nCaptionId(captionId),
      m_nTitleId(titleId),
      m_nSubtitleId(subtitleId) {
    CommonConstruct();
}

CResizeablePropertyPage::CResizeablePropertyPage(const QString& templateName, UINT captionId,
                                                 UINT titleId, UINT subtitleId)
    : m_templateName(templateName),
      m_nCaptionId(captionId),
      m_nTitleId(titleId),
      m_nSubtitleId(subtitleId) {
    CommonConstruct();
}

CResizeablePropertyPage::~CResizeablePropertyPage() = default;

void CResizeablePropertyPage::CommonConstruct() {
    m_bResizeable = 0;
    m_bFlickerFree = 0;
}

QString CResizeablePropertyPage::GetCaption() const {
    const QString caption = m_nCaptionId != 0 ? LoadQString(m_nCaptionId) : QString();
    return caption.isEmpty() ? windowTitle() : caption;
}

// Without a title of its own the header shows the page's caption.
QString CResizeablePropertyPage::GetHeaderTitle() const {
    const QString title = m_nTitleId != 0 ? LoadQString(m_nTitleId) : QString();
    return title.isEmpty() ? GetCaption() : title;
}
QString CResizeablePropertyPage::GetHeaderSubTitle() const {
    return LoadQString(m_nSubtitleId);
}

BOOL CResizeablePropertyPage::OnInitDialog() {
    if (auto* sheet = qobject_cast<CResizeablePropertySheet*>(parentWidget())) {
        m_bResizeable = sheet->IsResizeable();
    }
    if (m_bResizeable != 0) {
        m_resizer.Create(this, 1, 100);
    }
    return TRUE;
}

void CResizeablePropertyPage::InitialiseOnce() {
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
        ApplyFlickerFree(this, IsFlickerFree());
    }
}

// ---- CResizeablePropertySheet ------------------------------------------------------------

CResizeablePropertySheet::CResizeablePropertySheet(UINT captionId, QWidget* parent, int selectPage)
    : CResizeablePropertySheet(LoadQString(captionId), parent, selectPage) {}

CResizeablePropertySheet::CResizeablePropertySheet(const QString& caption, QWidget* parent,
                                                   int selectPage)
    : CResizeableTopWindow(parent), m_caption(caption), m_nActive(std::max(selectPage, 0)) {
    setWindowTitle(caption);
}

CResizeablePropertySheet::~CResizeablePropertySheet() {
    // The pages are the caller's: hand them back before the sheet's children go.
    for (CResizeablePropertyPage* page : m_pages) {
        if (page != nullptr && page->parentWidget() == this) {
            page->hide();
            page->setParent(nullptr);
        }
    }
}

void CResizeablePropertySheet::AddPage(CResizeablePropertyPage* page) {
    if (page == nullptr || GetPageIndex(page) >= 0) {
        return;
    }
    m_pages.push_back(page);
    // A page the caller deletes first leaves the sheet.
    connect(page, &QObject::destroyed, this, [this, page] { ForgetPage(page); });
    page->setParent(this);
    page->hide();
    if (m_pTab != nullptr) {
        m_pTab->addTab(new QWidget, page->GetCaption());
    }
}

void CResizeablePropertySheet::RemovePage(CResizeablePropertyPage* page) {
    if (GetPageIndex(page) < 0) {
        return;
    }
    ForgetPage(page);
    disconnect(page, nullptr, this, nullptr);
    page->hide();
    page->setParent(nullptr);
    SetActivePage(m_nActive);
}

void CResizeablePropertySheet::ForgetPage(CResizeablePropertyPage* page) {
    const int index = GetPageIndex(page);
    if (index < 0) {
        return;
    }
    m_pages.erase(m_pages.begin() + index);
    if (m_pTab != nullptr) {
        const QSignalBlocker block(m_pTab);
        QWidget* placeholder = m_pTab->widget(index);
        m_pTab->removeTab(index);
        delete placeholder;
    }
    if (m_nActive >= GetPageCount()) {
        m_nActive = std::max(GetPageCount() - 1, 0);
    }
}

CResizeablePropertyPage* CResizeablePropertySheet::GetPage(int index) const {
    return index >= 0 && index < GetPageCount() ? m_pages[static_cast<std::size_t>(index)]
                                                : nullptr;
}

int CResizeablePropertySheet::GetPageIndex(const CResizeablePropertyPage* page) const {
    auto it = std::find(m_pages.begin(), m_pages.end(), page);
    return it != m_pages.end() ? static_cast<int>(it - m_pages.begin()) : -1;
}

int CResizeablePropertySheet::SetInitialisingFlag(int initialising) {
    bool any = false;
    for (CResizeablePropertyPage* page : m_pages) {
        page->SetInitialisingFlag(initialising);
        any = true;
    }
    return any ? 1 : 0;
}

QPushButton* CResizeablePropertySheet::MakeButton(int id, const QString& text) {
    auto* button = new QPushButton(text, this);
    SetDlgCtrlID(button, id);
    connect(button, &QPushButton::clicked, this, [this, id] { OnButton(id); });
    return button;
}

// The sheet's window: the tab control (hidden in a wizard) with the pages over its display
// area, the etched bar and header of a wizard, and the buttons in a row at the bottom.
void CResizeablePropertySheet::Build() {
    if (m_bBuilt) {
        return;
    }
    m_bBuilt = true;
    // Pages take the largest page's size, and are at least as wide as the button row.
    constexpr int kButtonRow = 3 * kButtonWidth + 2 * kButtonGap;
    QSize pageSize(kButtonRow - (IsWizard() ? 0 : 2 * kTabPadding), 1);
    for (CResizeablePropertyPage* page : m_pages) {
        pageSize = pageSize.expandedTo(PageSize(page));
    }

    m_pTab = new QTabWidget(this);
    SetDlgCtrlID(m_pTab, AFX_IDC_TAB_CONTROL);
    for (CResizeablePropertyPage* page : m_pages) {
        m_pTab->addTab(new QWidget, page->GetCaption());
    }
    connect(m_pTab, &QTabWidget::currentChanged, this, [this](int index) { SetActivePage(index); });

    int top = kMargin;
    QRect pageRect;
    if (IsWizard()) {
        m_pTab->hide();
        if (IsWizard97()) {
            m_pHeaderTitle = new QLabel(this);
            QFont bold = m_pHeaderTitle->font();
            bold.setBold(true);
            m_pHeaderTitle->setFont(bold);
            m_pHeaderTitle->setGeometry(kMargin * 3, kMargin, pageSize.width(), 18);
            m_pHeaderSubTitle = new QLabel(this);
            m_pHeaderSubTitle->setGeometry(kMargin * 5, kMargin + 20, pageSize.width(), 18);
            m_pHeaderLine = new QFrame(this);
            m_pHeaderLine->setFrameShape(QFrame::HLine);
            m_pHeaderLine->setFrameShadow(QFrame::Sunken);
            SetDlgCtrlID(m_pHeaderLine, ID_WIZHEADERLINE);
            m_pHeaderLine->setGeometry(0, kHeaderHeight, pageSize.width() + 2 * kMargin, 2);
            top = kHeaderHeight;
        }
        pageRect = QRect(
            QPoint(IsWizard97() ? 0 : kMargin, top),
            IsWizard97() ? QSize(pageSize.width() + 2 * kMargin, pageSize.height()) : pageSize);
        top = pageRect.bottom() + 1 + kMargin;
        m_pEtchedBar = new QFrame(this);
        m_pEtchedBar->setFrameShape(QFrame::HLine);
        m_pEtchedBar->setFrameShadow(QFrame::Sunken);
        SetDlgCtrlID(m_pEtchedBar, ID_WIZETCHEDBAR);
        m_pEtchedBar->setGeometry(kMargin, top, pageSize.width(), 2);
        top += 2 + kMargin;
    } else {
        const int barHeight = m_pTab->tabBar()->sizeHint().height();
        const QRect tabRect(kMargin, kMargin, pageSize.width() + 2 * kTabPadding,
                            barHeight + pageSize.height() + 2 * kTabPadding);
        m_pTab->setGeometry(tabRect);
        pageRect = QRect(QPoint(tabRect.x() + kTabPadding, tabRect.y() + barHeight + kTabPadding),
                         pageSize);
        top = tabRect.bottom() + 1 + kMargin;
    }
    for (CResizeablePropertyPage* page : m_pages) {
        page->setGeometry(pageRect);
        page->raise();
    }

    // Buttons, right-aligned; Next and Finish share one place.
    QPushButton* back = MakeButton(ID_WIZBACK, tr("< &Back"));
    QPushButton* next = MakeButton(ID_WIZNEXT, tr("&Next >"));
    QPushButton* finish = MakeButton(ID_WIZFINISH, tr("Finish"));
    QPushButton* ok = MakeButton(IDOK, tr("OK"));
    QPushButton* cancel = MakeButton(IDCANCEL, tr("Cancel"));
    QPushButton* apply = MakeButton(ID_APPLY_NOW, tr("&Apply"));
    QPushButton* help = MakeButton(IDHELP, tr("Help"));
    help->hide();
    const int buttonHeight = ok->sizeHint().height();
    const int width = std::max(pageRect.right() + 1 + kMargin,
                               IsWizard() ? 0 : m_pTab->geometry().right() + 1 + kMargin);
    std::vector<QPushButton*> row;
    if (IsWizard()) {
        ok->hide();
        apply->hide();
        row = {back, next, cancel};
        finish->setGeometry(0, 0, kButtonWidth, buttonHeight);
    } else {
        back->hide();
        next->hide();
        finish->hide();
        row = {ok, cancel, apply};
    }
    int x =
        width - kMargin - static_cast<int>(row.size()) * (kButtonWidth + kButtonGap) + kButtonGap;
    for (QPushButton* button : row) {
        button->setGeometry(x, top, kButtonWidth, buttonHeight);
        x += kButtonWidth + kButtonGap;
    }
    if (IsWizard()) {
        finish->setGeometry(next->geometry());
    }
    ok->setDefault(!IsWizard());
    resize(width, top + buttonHeight + kMargin);
}

BOOL CResizeablePropertySheet::OnInitDialog() {
    Build();
    SetActivePage(std::min(m_nActive, GetPageCount() - 1));
    if (m_bResizeable != 0) {
        SetInitialisingFlag(1);
        m_resizer.PropertySheetPrepare(this);
        m_resizer.Create(this, 1, 100);
        if (IsWizard()) {
            m_resizer.WizardAddEtchedBar(this, 0, 100, 100, 0);
        }
        m_resizer.PropertySheetAddButtons(this, 100, 100, 0, 0);
        m_resizer.PropertySheetAddPages(this, 0, 0, 100, 100);
        m_resizer.SetMinimumTrackingSize();
        if (IsWizard()) {
            m_resizer.WizardSaveMargins(this);
        }
        m_resizer.SetGripEnabled(1);
        if (IsWizard()) {
            m_resizer.Add(ID_WIZHEADERLINE, 0, 0, 100, 0);
        }
        SetInitialisingFlag(0);
    }
    return TRUE;
}

BOOL CResizeablePropertySheet::SetActivePage(int index) {
    CResizeablePropertyPage* page = GetPage(index);
    if (page == nullptr) {
        return FALSE;
    }
    // Before the sheet's window is built this only chooses the page it opens with.
    if (!m_bBuilt) {
        m_nActive = index;
        return TRUE;
    }
    CResizeablePropertyPage* old = GetActivePage();
    if (old != nullptr && old != page && old->IsInitialised() && old->OnKillActive() == FALSE) {
        return FALSE;  // the page keeps the focus: its data is not valid
    }
    m_nActive = index;
    for (CResizeablePropertyPage* other : m_pages) {
        if (other != page) {
            other->hide();
        }
    }
    page->InitialiseOnce();
    page->show();
    page->raise();
    if (m_pTab != nullptr && m_pTab->currentIndex() != index) {
        const QSignalBlocker block(m_pTab);
        m_pTab->setCurrentIndex(index);
    }
    if (IsWizard()) {
        UpdateWizardButtons();
        if (m_pHeaderTitle != nullptr) {
            m_pHeaderTitle->setText(page->GetHeaderTitle());
            m_pHeaderSubTitle->setText(page->GetHeaderSubTitle());
        }
        if (m_resizer.GetEnabled() != 0) {
            m_resizer.WizardAdjustPage(this);
        }
    }
    page->OnSetActive();
    return TRUE;
}

void CResizeablePropertySheet::UpdateWizardButtons() {
    const bool last = m_nActive >= GetPageCount() - 1;
    if (QWidget* back = GetDlgItem(this, ID_WIZBACK)) {
        back->setEnabled(m_nActive > 0);
    }
    if (QWidget* next = GetDlgItem(this, ID_WIZNEXT)) {
        next->setVisible(!last);
    }
    if (QWidget* finish = GetDlgItem(this, ID_WIZFINISH)) {
        finish->setVisible(last);
    }
}

void CResizeablePropertySheet::OnButton(int id) {
    switch (id) {
        case ID_WIZBACK:
            SetActivePage(m_nActive - 1);
            break;
        case ID_WIZNEXT:
            SetActivePage(m_nActive + 1);
            break;
        case ID_APPLY_NOW:
            for (CResizeablePropertyPage* page : m_pages) {
                if (page->IsInitialised()) {
                    page->OnApply();
                }
            }
            break;
        case IDOK:
        case ID_WIZFINISH: {
            CResizeablePropertyPage* active = GetActivePage();
            if (active != nullptr && active->OnKillActive() == FALSE) {
                return;
            }
            for (CResizeablePropertyPage* page : m_pages) {
                if (page->IsInitialised()) {
                    page->OnOK();
                    page->OnApply();
                }
            }
            accept();
            break;
        }
        case IDCANCEL:
            for (CResizeablePropertyPage* page : m_pages) {
                if (page->IsInitialised()) {
                    page->OnCancel();
                }
            }
            reject();
            break;
        default:
            break;
    }
}
