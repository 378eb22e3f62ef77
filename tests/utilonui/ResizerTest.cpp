#include <gtest/gtest.h>

#include <QPushButton>
#include <QSizeGrip>
#include <QStyle>
#include <memory>

#include "GuiTestApp.h"
#include "utilonui/Resizer.h"

namespace {
class ResizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        window = std::make_unique<QWidget>();
        window->resize(300, 200);
        button = new QPushButton("A", window.get());
        SetDlgCtrlID(button, 1001);
        button->setGeometry(10, 10, 50, 20);
        other = new QPushButton("B", window.get());
        SetDlgCtrlID(other, 1002);
        other->setGeometry(100, 100, 40, 40);
        window->show();
        QApplication::processEvents();
    }
    std::unique_ptr<QWidget> window;
    QPushButton* button = nullptr;
    QPushButton* other = nullptr;
};
}  // namespace

TEST_F(ResizerTest, CalcValueCarriesRemainders) {
    CResizer resizer;
    ASSERT_EQ(resizer.Create(window.get(), 0, 100), 1);
    int remainder = 0;
    int value = 10;
    // Growing by 1 pixel three times at 50 percent: moves of 0, 1, 0.
    EXPECT_EQ(resizer.CalcValue(1, 50, remainder, value, 0), 1);
    EXPECT_EQ(value, 10);
    EXPECT_EQ(remainder, 50);
    resizer.CalcValue(1, 50, remainder, value, 0);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(remainder, 0);
    resizer.CalcValue(1, 50, remainder, value, 0);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(remainder, 50);
    // Shrinking runs the other way: the remainder goes negative before a pixel is lost.
    resizer.CalcValue(-1, 50, remainder, value, 0);
    resizer.CalcValue(-1, 50, remainder, value, 0);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(remainder, -50);
    resizer.CalcValue(-1, 50, remainder, value, 0);
    EXPECT_EQ(value, 10);
    EXPECT_EQ(remainder, 0);

    remainder = 0;
    value = 10;
    EXPECT_EQ(resizer.CalcValue(3, 50, remainder, value, 0), 1);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(remainder, 50);
    // Nothing for a zero proportion or a zero change.
    EXPECT_EQ(resizer.CalcValue(5, 0, remainder, value, 0), 0);
    EXPECT_EQ(resizer.CalcValue(0, 50, remainder, value, 0), 0);
    EXPECT_EQ(value, 11);
    // Not below zero: the deficit goes into the remainder.
    remainder = 0;
    value = 5;
    resizer.CalcValue(-8, 100, remainder, value, 1);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(remainder, -300);
}

TEST_F(ResizerTest, ControlsFollowSizeChangesWithoutDrift) {
    CResizer resizer(window.get(), 1, 100);
    ASSERT_TRUE(resizer.IsCreated());
    ASSERT_EQ(resizer.Add(button, 50, 0, 0, 0), 1);
    ASSERT_EQ(resizer.Add(1002, 0, 0, 50, 100), 1);
    int lefts[3];
    for (int i = 0; i < 3; ++i) {
        ResizeWindow(*window, 301 + i, 200);
        lefts[i] = button->x();
    }
    EXPECT_EQ(lefts[0], 10);
    EXPECT_EQ(lefts[1], 11);
    EXPECT_EQ(lefts[2], 11);
    EXPECT_EQ(resizer.GetItem(button)->nLeftRemainder, 50);
    EXPECT_EQ(other->width(), 41);  // half of 3
    EXPECT_EQ(other->height(), 40);

    ResizeWindow(*window, 403, 250);  // +100 wide, +50 high
    EXPECT_EQ(button->geometry(), QRect(61, 10, 50, 20));
    EXPECT_EQ(other->geometry(), QRect(100, 100, 91, 90));

    // Back to the start: everything where it began, remainders spent.
    ResizeWindow(*window, 300, 200);
    EXPECT_EQ(button->geometry(), QRect(10, 10, 50, 20));
    EXPECT_EQ(other->geometry(), QRect(100, 100, 40, 40));
    EXPECT_EQ(resizer.GetItem(button)->nLeftRemainder, 0);

    // Shrinking a fully growing control below zero keeps it at 0 and carries the deficit
    // in its remainder, a pixel at a time.
    ASSERT_EQ(resizer.Remove(1002), 1);
    ASSERT_EQ(resizer.Add(other, 0, 0, 100, 0), 1);
    ResizeWindow(*window, 250, 200);
    EXPECT_EQ(other->width(), 0);
    EXPECT_EQ(resizer.GetItem(other)->nWidthRemainder, -1000);
    ResizeWindow(*window, 300, 200);
    EXPECT_EQ(other->width(), 49);
    EXPECT_EQ(resizer.GetItem(other)->nWidthRemainder, -900);
}

TEST_F(ResizerTest, AddRefusesBadProportionsAndTablesStopAtIdZero) {
    CResizer notCreated;
    EXPECT_EQ(notCreated.Add(button, 0, 0, 0, 0), 0);
    EXPECT_EQ(notCreated.Remove(button), 0);
    CResizer resizer(window.get(), 1, 100);
    EXPECT_EQ(resizer.Add(button, 60, 0, 50, 0), 0);  // 60 + 50 exceeds the scale
    EXPECT_EQ(resizer.Add(button, 0, 60, 0, 50), 0);
    EXPECT_EQ(resizer.Add(button, -1, 0, 0, 0), 0);
    EXPECT_EQ(resizer.Add(button, 0, 0, 101, 0), 0);
    EXPECT_EQ(resizer.Add(static_cast<QWidget*>(nullptr), 0, 0, 0, 0), 0);
    EXPECT_EQ(resizer.Add(4711, 0, 0, 0, 0), 0);  // no such control
    EXPECT_EQ(resizer.GetCount(), 0);

    const CResizeInfo empty[] = {{0, 100, 100, 0, 0}, {1001, 0, 0, 0, 0}};
    EXPECT_EQ(resizer.Add(empty), 1);
    EXPECT_EQ(resizer.GetCount(), 0);
    const CResizeInfo table[] = {
        {1001, 100, 0, 0, 0}, {4711, 0, 0, 0, 0}, {1002, 0, 0, 100, 0}, {-1, 0, 0, 0, 0}};
    EXPECT_EQ(resizer.Add(table), 0);  // one entry failed, the others are in
    EXPECT_EQ(resizer.GetCount(), 2);
    EXPECT_EQ(resizer.Remove(1001), 1);
    EXPECT_EQ(resizer.Remove(1001), 0);
    EXPECT_EQ(resizer.GetCount(), 1);

    // A scale below 1 and a second Create are refused.
    CResizer zero;
    EXPECT_EQ(zero.Create(window.get(), 0, 0), 0);
    EXPECT_EQ(resizer.Create(window.get(), 1, 100), 0);
    EXPECT_EQ(zero.Create(nullptr, 1, 100), 0);
}

TEST_F(ResizerTest, NoChangeMovesNothingAndDeletedControlsAreSkipped) {
    CResizer resizer(window.get(), 1, 100);
    ASSERT_EQ(resizer.Add(button, 100, 100, 0, 0), 1);
    ASSERT_EQ(resizer.Add(other, 0, 0, 100, 100), 1);
    resizer.Resize(300, 200);
    EXPECT_EQ(button->geometry(), QRect(10, 10, 50, 20));
    delete other;
    ResizeWindow(*window, 320, 210);
    EXPECT_EQ(button->geometry(), QRect(30, 20, 50, 20));
}

TEST_F(ResizerTest, TrackingSizesLimitTheWindow) {
    CResizer resizer(window.get(), 1, 100);
    EXPECT_EQ(resizer.GetMinimumTrackingSize(), QSize(-1, -1));
    EXPECT_EQ(resizer.GetMaximumTrackingSize(), QSize(-1, -1));
    const QSize ownMinimum = window->minimumSize();
    EXPECT_EQ(resizer.SetMinimumTrackingSize(), 1);
    EXPECT_EQ(resizer.GetMinimumTrackingSize(), QSize(300, 200));
    EXPECT_EQ(resizer.SetMaximumTrackingSize(QSize(500, -1)), 1);
    ResizeWindow(*window, 100, 100);
    EXPECT_EQ(window->size(), QSize(300, 200));
    ResizeWindow(*window, 900, 900);
    EXPECT_EQ(window->size(), QSize(500, 900));  // height: the window's own maximum
    resizer.SetEnabled(0);
    EXPECT_EQ(window->minimumSize(), ownMinimum);
}

TEST_F(ResizerTest, EnablingFindsTheResizerAndMakesAFixedWindowResizable) {
    window->setFixedSize(300, 200);
    CResizer resizer;
    ASSERT_EQ(resizer.Create(window.get(), 0, 100), 1);
    EXPECT_EQ(CResizer::GetResizeCtrl(window.get()), nullptr);
    EXPECT_EQ(resizer.SetEnabled(1), 1);
    EXPECT_EQ(resizer.SetEnabled(1), 0);  // no change
    EXPECT_EQ(CResizer::GetResizeCtrl(window.get()), &resizer);
    EXPECT_NE(window->minimumSize(), window->maximumSize());
    ResizeWindow(*window, 350, 220);
    EXPECT_EQ(window->size(), QSize(350, 220));
    EXPECT_EQ(resizer.SetEnabled(0), 1);
    EXPECT_EQ(CResizer::GetResizeCtrl(window.get()), nullptr);
    EXPECT_EQ(window->minimumSize(), QSize(300, 200));
    EXPECT_EQ(window->maximumSize(), QSize(300, 200));
    QRect recorded;
    EXPECT_EQ(resizer.GetWindowRect(&recorded), 1);
    // The rectangle of the window as it was when disabled, frame included.
    const QSize frame = window->frameGeometry().size() - window->size();
    EXPECT_EQ(recorded.size(), QSize(350, 220) + frame);
    EXPECT_EQ(resizer.GetWindowRect(nullptr), 0);
    EXPECT_EQ(CResizer::GetResizeCtrl(nullptr), nullptr);
}

TEST_F(ResizerTest, SizeGripSitsInTheLowerRightCorner) {
    CResizer resizer(window.get(), 1, 100);
    EXPECT_EQ(resizer.SetGripEnabled(1), 0);
    EXPECT_EQ(resizer.GetGripEnabled(), 1);
    const int extent =
        window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window.get());
    ASSERT_NE(resizer.GetSizeGrip(), nullptr);
    EXPECT_EQ(resizer.GetGripRect(), QRect(300 - extent, 200 - extent, extent, extent));
    EXPECT_EQ(resizer.GetSizeGrip()->geometry(), resizer.GetGripRect());
    EXPECT_TRUE(resizer.GetSizeGrip()->isVisible());
    ResizeWindow(*window, 400, 260);
    EXPECT_EQ(resizer.GetSizeGrip()->geometry().bottomRight(), QPoint(399, 259));
    resizer.SetGripEnabled(0);
    EXPECT_FALSE(resizer.GetSizeGrip()->isVisible());
}
