#include "utilonui/Resizer.h"

#include <QEvent>
#include <QResizeEvent>
#include <QSizeGrip>
#include <QStyle>
#include <QTabWidget>
#include <QWidget>
#include <algorithm>
#include <cstdint>

#include "utilonui/ResizeableDialog.h"

namespace {
constexpr int kUnset = -1;
constexpr const char* kCtrlIdProperty = "ctrlId";

// A window whose size the user cannot change has equal minimum and maximum sizes.
bool IsFixedSize(const QWidget* window) {
    return window->minimumSize() == window->maximumSize();
}
}  // namespace

// Nearest first: the window's own controls before those inside its children (a
// sheet's OK button before a control of one of its pages).
QWidget* GetDlgItem(const QWidget* window, int id) {
    if (window == nullptr) {
        return nullptr;
    }
    std::vector<const QWidget*> level{window};
    while (!level.empty()) {
        std::vector<const QWidget*> next;
        for (const QWidget* parent : level) {
            for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (GetDlgCtrlID(child) == id) {
                    return child;
                }
                next.push_back(child);
            }
        }
        level.swap(next);
    }
    return nullptr;
}

int GetDlgCtrlID(const QWidget* control) {
    if (control == nullptr) {
        return 0;
    }
    bool ok = false;
    const int id = control->property(kCtrlIdProperty).toInt(&ok);
    return ok ? id : 0;
}

void SetDlgCtrlID(QWidget* control, int id) {
    if (control != nullptr) {
        control->setProperty(kCtrlIdProperty, id);
    }
}

CResizer::CResizer() = default;

CResizer::CResizer(QWidget* window, int enable, int scale, int propertyPage) {
    Create(window, enable, scale, propertyPage);
}

CResizer::CResizer(QWidget* window, int enable, int scale) {
    Create(window, enable, scale);
}

CResizer::~CResizer() {
    if (IsCreated()) {
        SetEnabled(0);
        m_pList.reset();
    }
    delete m_pGrip.data();
}

void CResizer::Reset() {
    m_nLastWidth = 0;
    m_nLastHeight = 0;
    m_bResizing = 0;
    m_bEnabled = 0;
    m_rcGrip = QRect();
    m_rcWindow = QRect();
}

int CResizer::Create(QWidget* window, int enable, int scale, int propertyPage) {
    // A scale below 1 would divide by zero on the first resize.
    if (IsCreated() || window == nullptr || scale < 1) {
        return 0;
    }
    m_pList = std::make_unique<CResizeArray>();
    m_nScale = scale;
    m_hWnd = window;
    Reset();
    m_nMaxTrackX = m_nMaxTrackY = m_nMinTrackX = m_nMinTrackY = kUnset;
    // A page, a child widget or a window the user can already size needs no border of ours.
    m_bNativeFrame = (propertyPage != 0 || !window->isWindow() || !IsFixedSize(window)) ? 1 : 0;
    if (enable != 0) {
        SetEnabled(1);
    } else {
        m_rcWindow = window->frameGeometry();
    }
    return 1;
}

int CResizer::Create(QWidget* window, int enable, int scale) {
    if (window == nullptr) {
        return 0;
    }
    const bool page = qobject_cast<CResizeablePropertyPage*>(window) != nullptr;
    return Create(window, enable, scale, page ? 1 : 0);
}

int CResizer::SetEnabled(int enable) {
    if (!IsCreated() || m_hWnd.isNull() || (enable != 0) == (m_bEnabled != 0)) {
        return 0;
    }
    QWidget* window = m_hWnd.data();
    m_rcWindow = window->frameGeometry();
    if (enable != 0) {
        if (m_bNativeFrame == 0) {
            ChangeStyle(true);
        }
        m_systemMin = window->minimumSize();
        m_systemMax = window->maximumSize();
        m_nLastWidth = window->width();
        m_nLastHeight = window->height();
        window->setProperty(kResizerProperty,
                            QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(this)));
        window->installEventFilter(this);
        m_bEnabled = 1;
        ApplyTrackingSizes();
    } else {
        window->removeEventFilter(this);
        window->setProperty(kResizerProperty, QVariant());
        // The window's own limits come back with the resizer gone.
        window->setMinimumSize(m_systemMin);
        window->setMaximumSize(m_systemMax);
        if (m_bNativeFrame == 0) {
            ChangeStyle(false);
        }
        m_bEnabled = 0;
    }
    if (m_bGripEnabled != 0) {
        UpdateGrip();
    }
    return 1;
}

void CResizer::ChangeStyle(bool addBorder) {
    QWidget* window = m_hWnd.data();
    if (addBorder) {
        m_savedMin = window->minimumSize();
        m_savedMax = window->maximumSize();
        window->setMinimumSize(0, 0);
        window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        m_bBorderAdded = true;
    } else if (m_bBorderAdded) {
        window->setMinimumSize(m_savedMin);
        window->setMaximumSize(m_savedMax);
        m_bBorderAdded = false;
    }
}

// The stored tracking sizes become the window's limits; -1 keeps the window's own value.
void CResizer::ApplyTrackingSizes() {
    if (m_bEnabled == 0 || m_hWnd.isNull()) {
        return;
    }
    const QSize minimum(m_nMinTrackX == kUnset ? m_systemMin.width() : m_nMinTrackX,
                        m_nMinTrackY == kUnset ? m_systemMin.height() : m_nMinTrackY);
    const QSize maximum(m_nMaxTrackX == kUnset ? m_systemMax.width() : m_nMaxTrackX,
                        m_nMaxTrackY == kUnset ? m_systemMax.height() : m_nMaxTrackY);
    m_hWnd->setMinimumSize(
        minimum.boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)).expandedTo(QSize(0, 0)));
    m_hWnd->setMaximumSize(
        maximum.boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)).expandedTo(QSize(0, 0)));
}

int CResizer::SetGripEnabled(int enable) {
    const bool changed = (enable != 0) != (m_bGripEnabled != 0);
    m_bGripEnabled = enable != 0 ? 1 : 0;
    if (changed && m_bEnabled != 0) {
        UpdateGrip();
    }
    return 0;
}

// The grip sits in the lower right corner of the client area, as wide as a vertical
// scroll bar and as high as a horizontal one.
void CResizer::UpdateGrip() {
    if (m_hWnd.isNull()) {
        return;
    }
    QWidget* window = m_hWnd.data();
    const bool show = m_bGripEnabled != 0 && m_bEnabled != 0;
    if (show) {
        const int extent =
            window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window);
        m_rcGrip = QRect(window->width() - extent, window->height() - extent, extent, extent);
        if (m_pGrip.isNull()) {
            m_pGrip = new QSizeGrip(window);
        }
        m_pGrip->setGeometry(m_rcGrip);
        m_pGrip->raise();
        m_pGrip->show();
    } else {
        m_rcGrip = QRect();
        if (!m_pGrip.isNull()) {
            m_pGrip->hide();
        }
    }
}

int CResizer::Add(QWidget* control, int moveX, int moveY, int sizeX, int sizeY) {
    if (!IsCreated() || control == nullptr) {
        return 0;
    }
    auto inRange = [this](int value) { return value >= 0 && value <= m_nScale; };
    if (!inRange(moveX) || !inRange(moveY) || !inRange(sizeX) || !inRange(sizeY) ||
        moveX + sizeX > m_nScale || moveY + sizeY > m_nScale) {
        return 0;
    }
    CRPItemState item;
    item.hControl = control;
    item.nMoveX = moveX;
    item.nMoveY = moveY;
    item.nSizeX = sizeX;
    item.nSizeY = sizeY;
    m_pList->push_back(item);
    return 1;
}

int CResizer::Add(int id, int moveX, int moveY, int sizeX, int sizeY) {
    if (m_hWnd.isNull()) {
        return 0;
    }
    return Add(GetDlgItem(m_hWnd.data(), id), moveX, moveY, sizeX, sizeY);
}

int CResizer::Add(const CResizeInfo* table) {
    if (table == nullptr) {
        return 0;
    }
    int all = 1;
    for (const CResizeInfo* entry = table; entry->nCtrlId >= 1; ++entry) {
        if (Add(entry->nCtrlId, entry->nMoveX, entry->nMoveY, entry->nSizeX, entry->nSizeY) == 0) {
            all = 0;
        }
    }
    return all;
}

int CResizer::Remove(QWidget* control) {
    if (!IsCreated() || control == nullptr) {
        return 0;
    }
    auto it = std::find_if(m_pList->begin(), m_pList->end(), [control](const CRPItemState& item) {
        return item.hControl == control;
    });
    if (it == m_pList->end()) {
        return 0;
    }
    m_pList->erase(it);
    return 1;
}

int CResizer::Remove(int id) {
    if (m_hWnd.isNull()) {
        return 0;
    }
    return Remove(GetDlgItem(m_hWnd.data(), id));
}

const CRPItemState* CResizer::GetItem(QWidget* control) const {
    if (!IsCreated()) {
        return nullptr;
    }
    for (const CRPItemState& item : *m_pList) {
        if (item.hControl == control) {
            return &item;
        }
    }
    return nullptr;
}

int CResizer::GetWindowRect(QRect* rect) const {
    if (rect == nullptr) {
        return 0;
    }
    *rect = m_rcWindow;
    return 1;
}

int CResizer::SetMinimumTrackingSize(const QSize& size) {
    m_nMinTrackX = size.width();
    m_nMinTrackY = size.height();
    ApplyTrackingSizes();
    return 1;
}

int CResizer::SetMaximumTrackingSize(const QSize& size) {
    m_nMaxTrackX = size.width();
    m_nMaxTrackY = size.height();
    ApplyTrackingSizes();
    return 1;
}

int CResizer::SetMinimumTrackingSize() {
    if (m_hWnd.isNull()) {
        return 0;
    }
    return SetMinimumTrackingSize(m_hWnd->size());
}

CResizer* CResizer::GetResizeCtrl(const QWidget* window) {
    if (window == nullptr) {
        return nullptr;
    }
    const QVariant value = window->property(kResizerProperty);
    return value.isValid() ? reinterpret_cast<CResizer*>(value.value<quintptr>()) : nullptr;
}

int CResizer::CalcValue(int delta, int proportion, int& remainder, int& value,
                        int notNegative) const {
    // In 64 bits: a large window change times a large scale stays exact.
    const std::int64_t p = static_cast<std::int64_t>(delta) * proportion;
    if (proportion < 1 || p == 0) {
        return 0;
    }
    std::int64_t rem = remainder + p % m_nScale;
    std::int64_t val = value;
    if (rem >= m_nScale) {
        rem -= m_nScale;
        val += 1;
    } else if (rem <= -m_nScale) {
        rem += m_nScale;
        val -= 1;
    }
    val += p / m_nScale;
    if (notNegative != 0 && val < 0) {
        rem += static_cast<std::int64_t>(m_nScale) * val;
        val = 0;
    }
    remainder = static_cast<int>(std::clamp<std::int64_t>(rem, INT32_MIN, INT32_MAX));
    value = static_cast<int>(std::clamp<std::int64_t>(val, INT32_MIN, INT32_MAX));
    return 1;
}

void CResizer::Resize(int newWidth, int newHeight) {
    if (m_bResizing != 0 || !IsCreated() || m_pList->empty()) {
        return;
    }
    m_bResizing = 1;
    const int dx = newWidth - m_nLastWidth;
    const int dy = newHeight - m_nLastHeight;
    if (dx == 0 && dy == 0) {
        m_bResizing = 0;
        return;
    }
    // Compute every new place first, then move them all: one batch, as a deferred
    // window-position change is.
    std::vector<std::pair<QWidget*, QRect>> batch;
    for (CRPItemState& item : *m_pList) {
        if (item.hControl.isNull()) {
            continue;
        }
        const QRect r = item.hControl->geometry();
        int left = r.x();
        int top = r.y();
        int width = r.width();
        int height = r.height();
        int changed = 0;
        changed |= CalcValue(dx, item.nMoveX, item.nLeftRemainder, left, 0);
        changed |= CalcValue(dx, item.nSizeX, item.nWidthRemainder, width, 1);
        changed |= CalcValue(dy, item.nMoveY, item.nTopRemainder, top, 0);
        changed |= CalcValue(dy, item.nSizeY, item.nHeightRemainder, height, 1);
        if (changed != 0) {
            batch.emplace_back(item.hControl.data(), QRect(left, top, width, height));
        }
    }
    for (const auto& [control, rect] : batch) {
        control->setGeometry(rect);
    }
    m_nLastWidth = newWidth;
    m_nLastHeight = newHeight;
    m_bResizing = 0;
}

bool CResizer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_hWnd.data() && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        Resize(resize->size().width(), resize->size().height());
        if (m_bGripEnabled != 0) {
            UpdateGrip();
        }
    }
    return QObject::eventFilter(watched, event);
}

int CResizer::PropertySheetPrepare(CResizeablePropertySheet* sheet) {
    if (m_bEnabled != 0 || sheet == nullptr) {
        return 0;
    }
    const int active = sheet->GetActiveIndex();
    for (int i = 0; i < sheet->GetPageCount(); ++i) {
        if (i != active) {
            sheet->SetActivePage(i);
        }
    }
    sheet->SetActivePage(active);
    return sheet->GetPageCount() > 0 ? 1 : 0;
}

int CResizer::PropertySheetAddButtons(CResizeablePropertySheet* sheet, int moveX, int moveY,
                                      int sizeX, int sizeY) {
    if (sheet == nullptr) {
        return 0;
    }
    std::vector<int> ids;
    if (sheet->IsWizard()) {
        ids = {ID_WIZBACK, ID_WIZNEXT, ID_WIZFINISH};
    } else {
        ids = {ID_APPLY_NOW};
    }
    ids.insert(ids.end(), {IDOK, IDCANCEL, IDHELP});
    int all = 1;
    for (int id : ids) {
        if (Add(id, moveX, moveY, sizeX, sizeY) == 0) {
            all = 0;
        }
    }
    return all;
}

int CResizer::PropertySheetAddPages(CResizeablePropertySheet* sheet, int moveX, int moveY,
                                    int sizeX, int sizeY) {
    if (sheet == nullptr) {
        return 0;
    }
    int all = Add(sheet->GetTabControl(), moveX, moveY, sizeX, sizeY);
    for (int i = 0; i < sheet->GetPageCount(); ++i) {
        if (Add(sheet->GetPage(i), moveX, moveY, sizeX, sizeY) == 0) {
            all = 0;
        }
    }
    return all;
}

int CResizer::WizardAddEtchedBar(CResizeablePropertySheet* sheet, int moveX, int moveY, int sizeX,
                                 int sizeY) {
    if (sheet == nullptr || !sheet->IsWizard()) {
        return 0;
    }
    return Add(ID_WIZETCHEDBAR, moveX, moveY, sizeX, sizeY);
}

int CResizer::WizardSaveMargins(CResizeablePropertySheet* sheet) {
    if (sheet == nullptr || sheet->GetActivePage() == nullptr) {
        return 0;
    }
    // In the sheet's client coordinates the sheet's rectangle starts at (0, 0).
    const QRect page = sheet->GetActivePage()->geometry();
    const QRect frame = sheet->rect();
    m_pWizardMargins = std::make_unique<QRect>();
    m_pWizardMargins->setCoords(page.left() - frame.left(), page.top() - frame.top(),
                                frame.right() - page.right(), frame.bottom() - page.bottom());
    return 1;
}

int CResizer::WizardAdjustPage(CResizeablePropertySheet* sheet) {
    if (m_pWizardMargins == nullptr || sheet == nullptr || sheet->GetActivePage() == nullptr) {
        return 0;
    }
    CResizeablePropertyPage* page = sheet->GetActivePage();
    const QRect frame = sheet->rect();
    QRect target;
    target.setCoords(frame.left() + m_pWizardMargins->left(), frame.top() + m_pWizardMargins->top(),
                     frame.right() - m_pWizardMargins->right(),
                     frame.bottom() - m_pWizardMargins->bottom());
    QWidget* headerLine = GetDlgItem(sheet, ID_WIZHEADERLINE);
    if (sheet->IsWizard97() && !page->GetHideHeader() && headerLine != nullptr) {
        target.setTopLeft(headerLine->geometry().topLeft());
    }
    page->setGeometry(target);
    page->update();
    return 1;
}
