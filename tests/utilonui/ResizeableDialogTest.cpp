#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSizeGrip>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "GuiTestApp.h"
#include "utilonui/ResizeableDialog.h"

namespace {
constexpr int IDC_NAME = 1001;
constexpr int IDC_LIST = 1003;
constexpr int IDC_PAGE_EDIT = 2001;

// A dialog as the program's dialogs are made: controls placed by the template, the
// resizer told how each follows the window.
class CTestDialog : public CResizeableDialog {
public:
    explicit CTestDialog(bool resizeable) : CResizeableDialog(100) {
        m_bResizeable = resizeable ? 1 : 0;
        m_bFlickerFree = resizeable ? 1 : 0;
        setWindowTitle("Resizable");
        resize(300, 200);
        auto* name = new QLineEdit(this);
        SetDlgCtrlID(name, IDC_NAME);
        name->setGeometry(10, 10, 200, 22);
        auto* list = new QListWidget(this);
        list->addItems({"COM1", "COM2", "COM3"});
        SetDlgCtrlID(list, IDC_LIST);
        list->setGeometry(10, 40, 200, 110);
        auto* ok = new QPushButton("OK", this);
        SetDlgCtrlID(ok, IDOK);
        ok->setGeometry(210, 160, 70, 24);
    }
    BOOL OnInitDialog() override {
        CResizeableDialog::OnInitDialog();
        m_resizer.Add(IDC_NAME, 0, 0, 100, 0);
        m_resizer.Add(IDC_LIST, 0, 0, 100, 100);
        m_resizer.Add(IDOK, 100, 100, 0, 0);
        ++initCount;
        return TRUE;
    }
    int initCount = 0;
};

class CTestPage : public CResizeablePropertyPage {
public:
    explicit CTestPage(const QString& caption) {
        setWindowTitle(caption);
        resize(240, 120);
        auto* edit = new QLineEdit(this);
        SetDlgCtrlID(edit, IDC_PAGE_EDIT);
        edit->setGeometry(10, 10, 150, 22);
        edit->setText(caption);
    }
    BOOL OnInitDialog() override {
        CResizeablePropertyPage::OnInitDialog();
        m_resizer.Add(IDC_PAGE_EDIT, 0, 0, 100, 0);
        ++initCount;
        return TRUE;
    }
    BOOL OnApply() override {
        ++applyCount;
        return TRUE;
    }
    QWidget* Edit() { return GetDlgItem(this, IDC_PAGE_EDIT); }
    int initCount = 0;
    int applyCount = 0;
};

class ResizeableDialogTest : public ::testing::Test {
protected:
    void SetUp() override { GuiApp(); }
};

QPushButton* Button(QWidget* sheet, int id) {
    return qobject_cast<QPushButton*>(GetDlgItem(sheet, id));
}

QPoint Moved(const QRect& before, const QRect& after) {
    return after.topLeft() - before.topLeft();
}
}  // namespace

TEST_F(ResizeableDialogTest, DialogControlsFollowTheWindow) {
    CTestDialog dialog(true);
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.initCount, 1);
    CResizer* resizer = CResizer::GetResizeCtrl(&dialog);
    ASSERT_EQ(resizer, &dialog.GetResizer());
    EXPECT_EQ(resizer->GetMinimumTrackingSize(), QSize(300, 200));
    EXPECT_EQ(resizer->GetGripEnabled(), 1);
    SaveScreenshot(dialog, "resizeable_dialog_300x200");

    ResizeWindow(dialog, 420, 263);
    EXPECT_EQ(GetDlgItem(&dialog, IDC_NAME)->geometry(), QRect(10, 10, 320, 22));
    EXPECT_EQ(GetDlgItem(&dialog, IDC_LIST)->geometry(), QRect(10, 40, 320, 173));
    EXPECT_EQ(GetDlgItem(&dialog, IDOK)->geometry(), QRect(330, 223, 70, 24));
    ASSERT_NE(resizer->GetSizeGrip(), nullptr);
    EXPECT_EQ(resizer->GetSizeGrip()->geometry().bottomRight(), QPoint(419, 262));
    SaveScreenshot(dialog, "resizeable_dialog_420x263");

    // Not below the size it opened with.
    ResizeWindow(dialog, 200, 100);
    EXPECT_EQ(dialog.size(), QSize(300, 200));
    EXPECT_EQ(GetDlgItem(&dialog, IDOK)->geometry(), QRect(210, 160, 70, 24));
    dialog.hide();
    dialog.show();
    EXPECT_EQ(dialog.initCount, 1);
}

TEST_F(ResizeableDialogTest, FlickerFreeBackgroundIsTheFaceColourAroundTheControls) {
    CTestDialog dialog(true);
    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Button, QColor(200, 220, 240));
    palette.setColor(QPalette::Window, QColor(10, 10, 10));
    dialog.setPalette(palette);
    // A label shows the background through; an opaque panel paints its own.
    auto* label = new QLabel(&dialog);
    label->setGeometry(220, 10, 60, 40);
    auto* panel = new QWidget(&dialog);
    panel->setGeometry(220, 60, 60, 40);
    panel->setAutoFillBackground(true);
    QPalette own = panel->palette();
    own.setColor(QPalette::Window, QColor(255, 0, 0));
    panel->setPalette(own);
    dialog.show();
    QApplication::processEvents();
    const QImage image = dialog.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(5, 5)), QColor(200, 220, 240));
    EXPECT_EQ(QColor(image.pixel(250, 120)), QColor(200, 220, 240));
    EXPECT_EQ(QColor(image.pixel(250, 30)), QColor(200, 220, 240));
    EXPECT_EQ(QColor(image.pixel(250, 80)), QColor(255, 0, 0));
    // Under the size grip too.
    const QRect grip = dialog.GetResizer().GetGripRect();
    EXPECT_EQ(QColor(image.pixel(grip.topLeft())), QColor(200, 220, 240));
}

TEST_F(ResizeableDialogTest, FixedDialogHasNoResizer) {
    CTestDialog dialog(false);
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(CResizer::GetResizeCtrl(&dialog), nullptr);
    EXPECT_FALSE(dialog.GetResizer().IsCreated());
    ResizeWindow(dialog, 400, 300);
    EXPECT_EQ(GetDlgItem(&dialog, IDOK)->geometry(), QRect(210, 160, 70, 24));
}

TEST_F(ResizeableDialogTest, PropertySheetTabsButtonsAndPagesFollowTheWindow) {
    CTestPage first("Ports");
    CTestPage second("Sensor");
    CResizeablePropertySheet sheet(QString("Settings"));
    sheet.AllowResize(1);
    sheet.AddPage(&first);
    sheet.AddPage(&second);
    sheet.show();
    QApplication::processEvents();

    // Every page was made once so it can follow the window; the first is showing.
    EXPECT_EQ(first.initCount, 1);
    EXPECT_EQ(second.initCount, 1);
    EXPECT_EQ(first.IsInitialising(), 0);
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    EXPECT_TRUE(first.isVisible());
    EXPECT_FALSE(second.isVisible());
    ASSERT_NE(sheet.GetTabControl(), nullptr);
    EXPECT_EQ(GetDlgItem(&sheet, AFX_IDC_TAB_CONTROL), sheet.GetTabControl());
    EXPECT_EQ(sheet.GetTabControl()->count(), 2);
    EXPECT_EQ(sheet.GetTabControl()->tabText(1), "Sensor");
    for (int id : {IDOK, IDCANCEL, ID_APPLY_NOW}) {
        ASSERT_NE(Button(&sheet, id), nullptr) << id;
        EXPECT_TRUE(Button(&sheet, id)->isVisible()) << id;
        EXPECT_GE(Button(&sheet, id)->x(), 7) << id;
    }
    EXPECT_FALSE(Button(&sheet, ID_WIZNEXT)->isVisible());
    // A page's control with the same id as a sheet button does not hide the button.
    auto* pageOk = new QPushButton("page", &second);
    SetDlgCtrlID(pageOk, IDOK);
    EXPECT_EQ(GetDlgItem(&sheet, IDOK), Button(&sheet, IDOK));
    EXPECT_NE(GetDlgItem(&sheet, IDOK), pageOk);
    EXPECT_NE(GetDlgItem(&sheet, IDC_PAGE_EDIT), nullptr);  // found inside a page
    delete pageOk;
    EXPECT_EQ(first.size(), QSize(244, 120));  // as wide as the button row needs
    EXPECT_EQ(sheet.GetResizer().GetMinimumTrackingSize(), sheet.size());
    SaveScreenshot(sheet, "property_sheet_small");

    const QSize start = sheet.size();
    const QRect ok = Button(&sheet, IDOK)->geometry();
    const QRect tab = sheet.GetTabControl()->geometry();
    ResizeWindow(sheet, start.width() + 80, start.height() + 40);
    EXPECT_EQ(Moved(ok, Button(&sheet, IDOK)->geometry()), QPoint(80, 40));
    EXPECT_EQ(sheet.GetTabControl()->geometry(), tab.adjusted(0, 0, 80, 40));
    EXPECT_EQ(first.size(), QSize(324, 160));
    EXPECT_EQ(second.size(), QSize(324, 160));  // hidden pages follow too
    EXPECT_EQ(first.Edit()->width(), 230);      // and the page's own controls
    SaveScreenshot(sheet, "property_sheet_large");

    sheet.GetTabControl()->setCurrentIndex(1);
    EXPECT_EQ(sheet.GetActiveIndex(), 1);
    EXPECT_TRUE(second.isVisible());
    EXPECT_FALSE(first.isVisible());
    EXPECT_EQ(second.Edit()->width(), 230);  // its controls caught up when it showed
    QTest::mouseClick(Button(&sheet, ID_APPLY_NOW), Qt::LeftButton);
    EXPECT_EQ(first.applyCount, 1);
    EXPECT_EQ(second.applyCount, 1);
    QTest::mouseClick(Button(&sheet, IDOK), Qt::LeftButton);
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
}

TEST_F(ResizeableDialogTest, WizardStepsThroughItsPagesAndItsBarFollows) {
    CTestPage pages[3] = {CTestPage("Port"), CTestPage("Rate"), CTestPage("Done")};
    CResizeablePropertySheet sheet(QString("Set-up"));
    sheet.SetWizardMode();
    sheet.AllowResize(1);
    for (CTestPage& page : pages) {
        sheet.AddPage(&page);
    }
    sheet.show();
    QApplication::processEvents();
    EXPECT_FALSE(sheet.GetTabControl()->isVisible());
    EXPECT_FALSE(Button(&sheet, ID_WIZBACK)->isEnabled());
    EXPECT_TRUE(Button(&sheet, ID_WIZNEXT)->isVisible());
    EXPECT_FALSE(Button(&sheet, ID_WIZFINISH)->isVisible());
    EXPECT_FALSE(Button(&sheet, IDOK)->isVisible());
    QWidget* bar = GetDlgItem(&sheet, ID_WIZETCHEDBAR);
    ASSERT_NE(bar, nullptr);
    SaveScreenshot(sheet, "wizard_small");

    QTest::mouseClick(Button(&sheet, ID_WIZNEXT), Qt::LeftButton);
    QTest::mouseClick(Button(&sheet, ID_WIZNEXT), Qt::LeftButton);
    EXPECT_EQ(sheet.GetActiveIndex(), 2);
    EXPECT_TRUE(pages[2].isVisible());
    EXPECT_TRUE(Button(&sheet, ID_WIZFINISH)->isVisible());
    EXPECT_FALSE(Button(&sheet, ID_WIZNEXT)->isVisible());

    const QRect barBefore = bar->geometry();
    const QRect pageBefore = pages[2].geometry();
    ResizeWindow(sheet, sheet.width() + 60, sheet.height() + 30);
    EXPECT_EQ(bar->geometry(), barBefore.translated(0, 30).adjusted(0, 0, 60, 0));
    EXPECT_EQ(pages[2].geometry(), pageBefore.adjusted(0, 0, 60, 30));
    SaveScreenshot(sheet, "wizard_large");

    // Going back keeps the page within the margins the wizard opened with.
    QTest::mouseClick(Button(&sheet, ID_WIZBACK), Qt::LeftButton);
    EXPECT_EQ(sheet.GetActiveIndex(), 1);
    EXPECT_EQ(pages[1].geometry(), pageBefore.adjusted(0, 0, 60, 30));
    QTest::mouseClick(Button(&sheet, ID_WIZNEXT), Qt::LeftButton);
    QTest::mouseClick(Button(&sheet, ID_WIZFINISH), Qt::LeftButton);
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
}

TEST_F(ResizeableDialogTest, Wizard97PagesStartAtTheHeaderLine) {
    CTestPage first("One");
    CTestPage second("Two");
    second.SetHideHeader(true);
    CResizeablePropertySheet sheet(QString("Wizard"));
    sheet.SetWizard97Mode();
    sheet.AllowResize(1);
    sheet.AddPage(&first);
    sheet.AddPage(&second);
    sheet.show();
    QApplication::processEvents();
    QWidget* line = GetDlgItem(&sheet, ID_WIZHEADERLINE);
    ASSERT_NE(line, nullptr);
    const QRect lineBefore = line->geometry();
    const int rightMargin = sheet.rect().right() - first.geometry().right();
    const int bottomMargin = sheet.rect().bottom() - first.geometry().bottom();
    ResizeWindow(sheet, sheet.width() + 50, sheet.height() + 20);
    EXPECT_EQ(line->geometry(), lineBefore.adjusted(0, 0, 50, 0));
    sheet.SetActivePage(1);
    sheet.SetActivePage(0);
    EXPECT_EQ(first.geometry().topLeft(), line->geometry().topLeft());
    EXPECT_EQ(sheet.rect().right() - first.geometry().right(), rightMargin);
    EXPECT_EQ(sheet.rect().bottom() - first.geometry().bottom(), bottomMargin);
    SaveScreenshot(sheet, "wizard97");
}

TEST_F(ResizeableDialogTest, PagesOfAFixedSheetHaveNoResizer) {
    CTestPage page("Only");
    CResizeablePropertySheet sheet(QString("Fixed"));
    sheet.AddPage(&page);
    sheet.show();
    QApplication::processEvents();
    EXPECT_EQ(page.initCount, 1);
    EXPECT_EQ(page.IsResizeable(), 0);
    EXPECT_FALSE(page.GetResizer().IsCreated());
    EXPECT_FALSE(sheet.GetResizer().IsCreated());
    EXPECT_FALSE(sheet.SetActivePage(3));
}

TEST_F(ResizeableDialogTest, PagesLeavingTheSheetTakeTheirTabs) {
    CTestPage kept("Kept");
    auto removed = std::make_unique<CTestPage>("Removed");
    auto deleted = std::make_unique<CTestPage>("Deleted");
    CResizeablePropertySheet sheet(QString("Pages"));
    sheet.AllowResize(1);
    sheet.AddPage(&kept);
    sheet.AddPage(removed.get());
    sheet.AddPage(deleted.get());
    sheet.SetActivePage(2);
    sheet.show();
    QApplication::processEvents();
    EXPECT_EQ(sheet.GetActiveIndex(), 2);
    deleted.reset();  // the caller's page goes first
    EXPECT_EQ(sheet.GetPageCount(), 2);
    EXPECT_EQ(sheet.GetTabControl()->count(), 2);
    sheet.RemovePage(removed.get());
    EXPECT_EQ(removed->parentWidget(), nullptr);
    EXPECT_EQ(sheet.GetPageCount(), 1);
    EXPECT_EQ(sheet.GetActivePage(), &kept);
    EXPECT_TRUE(kept.isVisible());
    ResizeWindow(sheet, sheet.width() + 10, sheet.height() + 10);  // nothing dangling
    EXPECT_EQ(kept.width(), 254);
}
