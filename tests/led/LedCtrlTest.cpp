#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QImage>
#include <QPointer>
#include <QTest>
#include <cmath>

#include "GuiTestApp.h"
#include "led/LedCtrl.h"
#include "platform/Registry.h"

namespace {
class LedCtrlTest : public ::testing::Test {
protected:
    void SetUp() override { GuiApp(); }
};

QImage Render(CLedCtrl& led) {
    return led.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

QRgb At(const QImage& image, double x, double y) {
    return image.pixel(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
}

// A pixel at a radius and angle (clockwise from the positive x axis) from the lamp centre.
QRgb Polar(const QImage& image, const CLedCtrl::Geometry& g, double radius, double degrees) {
    const QPointF c = QRectF(g.body).center();
    const double r = degrees * M_PI / 180.0;
    return At(image, c.x() + radius * std::cos(r), c.y() + radius * std::sin(r));
}

int TimersOf(QObject* object) {
    return static_cast<int>(QAbstractEventDispatcher::instance()->registeredTimers(object).size());
}

// The screenshot and a copy enlarged four times, pixel for pixel, for a person to look at.
void Save(CLedCtrl& led, const std::string& name) {
    const QImage image = led.grab().toImage();
    const QString base = QString::fromStdString(tavimo_test::OutputDir() + "/" + name);
    image.save(base + ".png");
    image.scaled(image.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(base + "_zoom4.png");
}
}  // namespace

TEST_F(LedCtrlTest, ColourHelpersDimFillAndKeepAlpha) {
    // 255 x 30 x 0.01f lies just below 76.5.
    EXPECT_EQ(CLedCtrl::Scale(0xFF00FF00u, 30), 0xFF004C00u);
    EXPECT_EQ(CLedCtrl::Scale(0x80FF8001u, 30), 0x804C2600u);
    EXPECT_EQ(CLedCtrl::Scale(0xFFFFFFFFu, 250), 0xFFFFFFFFu);
    EXPECT_EQ(CLedCtrl::Scale(0xFFFFFFFFu, -20), 0xFF000000u);
    EXPECT_EQ(CLedCtrl::FillZeroChannels(0xFF00FF00u, 180), 0xFFB4FFB4u);
    EXPECT_EQ(CLedCtrl::FillZeroChannels(0x40102000u, 255), 0x401020FFu);
}

TEST_F(LedCtrlTest, ColoursAreColorRefsStoredOpaque) {
    CLedCtrl led;
    EXPECT_EQ(led.GetActiveColor(), RGB(255, 0, 0));
    EXPECT_EQ(led.GetBackgroundArgb() >> 24, 0xFFu);
    led.SetActiveColor(0x0000FF00u);
    EXPECT_EQ(led.GetActiveColor(), 0x0000FF00u);
    led.SetActiveColor(0xAB0000FFu);  // alpha byte ignored: opaque red
    EXPECT_EQ(led.GetActiveColor(), 0x000000FFu);
    EXPECT_EQ(led.GetActiveArgb(), 0xFFFF0000u);
    led.SetBackgroundColor(RGB(1, 2, 3) | 0x7F000000u);
    EXPECT_EQ(led.GetBackgroundColor(), RGB(1, 2, 3));
    EXPECT_EQ(led.GetBackgroundArgb(), 0xFF010203u);
}

TEST_F(LedCtrlTest, GeometryOfSmallAndLargeControls) {
    const auto small = CLedCtrl::CalcGeometry(QSize(20, 12));
    EXPECT_EQ(small.s, 10);
    EXPECT_EQ(small.body, QRect(5, 1, 10, 10));
    EXPECT_EQ(small.a, 4);
    EXPECT_EQ(small.penA, 1.0);
    EXPECT_EQ(small.penB, 1.5);
    EXPECT_EQ(small.bezelWidth, 2);
    EXPECT_EQ(small.bezel, QRect(5, 1, 10, 10));  // s - 2 / 4 = s
    const auto large = CLedCtrl::CalcGeometry(QSize(200, 200));
    EXPECT_EQ(large.s, 198);
    EXPECT_EQ(large.a, 49);
    EXPECT_EQ(large.penA, 7.0);
    EXPECT_EQ(large.penB, 13.0);
    EXPECT_EQ(large.bezelWidth, 19);
    EXPECT_EQ(large.bezel, QRect(3, 3, 194, 194));
    EXPECT_EQ(CLedCtrl::CalcGeometry(QSize(2, 50)).s, 0);
    EXPECT_TRUE(CLedCtrl::CalcGeometry(QSize(0, 0)).body.isEmpty());
}

TEST_F(LedCtrlTest, LampCentreLitAndUnlit) {
    CLedCtrl led;
    led.resize(40, 40);
    led.SetActiveColor(RGB(0, 255, 0));
    led.SetActive(true);
    QImage lit = Render(led);
    EXPECT_EQ(lit.pixel(20, 20), qRgb(0, 255, 0));
    led.SetActive(false);
    QImage unlit = Render(led);
    EXPECT_EQ(unlit.pixel(20, 20), qRgb(0, 76, 0));
    // Outside the body the background shows.
    EXPECT_EQ(unlit.pixel(0, 0), QColor::fromRgba(led.GetBackgroundArgb()).rgb());
}

TEST_F(LedCtrlTest, RimArcsAndBezelColours) {
    CLedCtrl led;
    led.resize(200, 200);
    led.SetActiveColor(RGB(0, 255, 0));
    led.SetBackgroundColor(RGB(240, 240, 240));
    const auto g = CLedCtrl::CalcGeometry(led.size());
    const QImage image = Render(led);
    // The wide arc of the highlight at level 255 on radius 99 - 49, up and to the left.
    EXPECT_EQ(Polar(image, g, 50, 225), qRgb(255, 255, 255));
    // The outer narrow arc (radius 99 - 43, pen 7) shows beyond the wide one.
    EXPECT_EQ(Polar(image, g, 58, 225), qRgb(180, 255, 180));
    // Below the lamp there are no arcs: the unlit body.
    EXPECT_EQ(qRed(Polar(image, g, 55, 90)), 0);
    // Bezel: light at the lower right, dark grey at the upper left.
    const QRgb lowerRight = Polar(image, g, 96, 45);
    const QRgb upperLeft = Polar(image, g, 96, 225);
    EXPECT_GT(qRed(lowerRight), 200);
    EXPECT_EQ(qRed(lowerRight), qGreen(lowerRight));
    EXPECT_LT(qRed(upperLeft), 80);
    EXPECT_GE(qRed(upperLeft), 0x20);
    Save(led, "led_200x200_unlit");

    led.SetBackgroundColor(RGB(0, 0, 39));  // no channel above 39: a black bezel
    const QImage dark = Render(led);
    EXPECT_EQ(Polar(dark, g, 96, 45), qRgb(0, 0, 0));
    EXPECT_EQ(Polar(dark, g, 96, 225), qRgb(0, 0, 0));
}

TEST_F(LedCtrlTest, FlashingTogglesThePhaseAndShowsDimWhileInactive) {
    CLedCtrl led;
    led.resize(40, 40);
    led.SetActiveColor(RGB(0, 255, 0));
    led.SetFlashing(true);
    EXPECT_NE(led.GetTimerId(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return led.GetFlashPhase(); }, 5000));
    EXPECT_EQ(Render(led).pixel(20, 20), qRgb(0, 76, 0));  // inactive: dim in phase on
    ASSERT_TRUE(QTest::qWaitFor([&] { return !led.GetFlashPhase(); }, 5000));
    EXPECT_EQ(Render(led).pixel(20, 20), qRgb(0, 76, 0));  // and off

    led.SetActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return led.GetFlashPhase(); }, 5000));
    EXPECT_EQ(Render(led).pixel(20, 20), qRgb(0, 255, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !led.GetFlashPhase(); }, 5000));
    EXPECT_EQ(Render(led).pixel(20, 20), qRgb(0, 76, 0));

    // Switching flashing on twice leaves one timer, and off stops it.
    led.SetFlashing(true);
    EXPECT_EQ(TimersOf(&led), 1);
    led.SetFlashing(false);
    EXPECT_EQ(led.GetTimerId(), 0);
    EXPECT_EQ(TimersOf(&led), 0);
}

TEST_F(LedCtrlTest, PulseStopsFlashingLightsAndEnds) {
    CLedCtrl led;
    led.resize(40, 40);
    led.SetFlashing(true);
    led.Pulse(500);
    EXPECT_FALSE(led.IsFlashing());
    EXPECT_TRUE(led.IsActive());
    EXPECT_TRUE(led.IsPulsing());
    EXPECT_EQ(TimersOf(&led), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !led.IsActive(); }, 10000));
    EXPECT_FALSE(led.IsPulsing());
    EXPECT_EQ(led.GetTimerId(), 0);
    EXPECT_EQ(TimersOf(&led), 0);

    // A negative time still ends the pulse.
    led.Pulse(-5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !led.IsActive(); }, 10000));

    // Flashing asked for during a pulse takes over: the lamp keeps flashing.
    led.Pulse(100000);
    led.SetFlashing(true);
    EXPECT_FALSE(led.IsPulsing());
    EXPECT_TRUE(led.IsActive());
    EXPECT_EQ(TimersOf(&led), 1);
}

TEST_F(LedCtrlTest, TinyControlsPaintOnlyTheBackground) {
    for (int side : {0, 1, 2, 3}) {
        CLedCtrl led;
        led.SetBackgroundColor(RGB(10, 20, 30));
        led.SetActive(true);
        led.resize(side, side);
        const QImage image = Render(led);
        if (side <= 2) {
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    EXPECT_EQ(image.pixel(x, y), qRgb(10, 20, 30)) << side;
                }
            }
        }
    }
}

TEST_F(LedCtrlTest, ScreenshotsAtTwoSizes) {
    CLedCtrl led;
    led.SetActiveColor(RGB(0, 255, 0));
    led.SetActive(true);
    for (QSize size : {QSize(20, 12), QSize(64, 64)}) {
        led.resize(size);
        const std::string name =
            "led_" + std::to_string(size.width()) + "x" + std::to_string(size.height());
        Save(led, name + "_lit");
        EXPECT_EQ(Render(led).size(), size);
    }
    led.SetActive(false);
    led.SetActiveColor(RGB(255, 0, 0));
    Save(led, "led_64x64_red_unlit");
}

class LedComTest : public LedCtrlTest {
protected:
    void SetUp() override {
        LedCtrlTest::SetUp();
        CoInitialize(nullptr);
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(LedComTest, CreatedByProgIdDrivenThroughDispatchAndOwnsItsWidget) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID("LED.LedCtrl.1", &clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_LedCtrl);
    CComPtr<ILedCtrl> control;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ILedCtrl,
                               reinterpret_cast<void**>(&control)),
              S_OK);
    CComPtr<IControlWidget> host;
    ASSERT_EQ(control.QueryInterface(IID_IControlWidget, &host), S_OK);
    QPointer<CLedCtrl> widget = qobject_cast<CLedCtrl*>(host->GetWidget());
    ASSERT_FALSE(widget.isNull());
    EXPECT_EQ(led::DllCanUnloadNow(), S_FALSE);

    const char* names[] = {"ActiveColor", "Pulse", "Blink"};
    DISPID ids[3] = {};
    EXPECT_EQ(control->GetIDsOfNames(GUID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_LED_ACTIVECOLOR);
    EXPECT_EQ(ids[1], DISPID_LED_PULSE);
    EXPECT_EQ(ids[2], -1);

    VARIANT green(std::int32_t{0x0000FF00});
    EXPECT_EQ(control->Invoke(DISPID_LED_ACTIVECOLOR, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &green,
                              nullptr, nullptr, nullptr),
              S_OK);
    VARIANT on(true);
    EXPECT_EQ(control->Invoke(DISPID_LED_SETACTIVE, GUID_NULL, 0, DISPATCH_METHOD, &on, nullptr,
                              nullptr, nullptr),
              S_OK);
    VARIANT result;
    EXPECT_EQ(control->Invoke(DISPID_LED_ACTIVECOLOR, GUID_NULL, 0, DISPATCH_PROPERTYGET, nullptr,
                              &result, nullptr, nullptr),
              S_OK);
    ASSERT_NE(result.get_if<std::uint32_t>(), nullptr);
    EXPECT_EQ(*result.get_if<std::uint32_t>(), 0x0000FF00u);
    VARIANT text(std::string("on"));
    EXPECT_EQ(control->Invoke(DISPID_LED_SETACTIVE, GUID_NULL, 0, DISPATCH_METHOD, &text, nullptr,
                              nullptr, nullptr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(control->Invoke(99, GUID_NULL, 0, DISPATCH_METHOD, &on, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(widget->IsActive());
    widget->resize(40, 40);
    EXPECT_EQ(Render(*widget).pixel(20, 20), qRgb(0, 255, 0));

    host.Release();
    control.Release();
    EXPECT_TRUE(widget.isNull());
    EXPECT_EQ(led::DllCanUnloadNow(), S_OK);
}

TEST_F(LedComTest, ObjectOutlivesAWidgetItsParentDeleted) {
    CComPtr<ILedCtrl> control;
    ASSERT_EQ(CoCreateInstance(CLSID_LedCtrl, nullptr, CLSCTX_INPROC_SERVER, IID_ILedCtrl,
                               reinterpret_cast<void**>(&control)),
              S_OK);
    CComPtr<IControlWidget> host;
    ASSERT_EQ(control.QueryInterface(IID_IControlWidget, &host), S_OK);
    {
        QWidget dialog;
        host->GetWidget()->setParent(&dialog);
        EXPECT_EQ(control->SetActive(VARIANT_TRUE), S_OK);
    }
    EXPECT_EQ(host->GetWidget(), nullptr);
    COLORREF colour = 0;
    EXPECT_EQ(control->get_ActiveColor(&colour), E_UNEXPECTED);
    EXPECT_EQ(control->Pulse(10), E_UNEXPECTED);
}

TEST_F(LedComTest, RegisterServerWritesTheRegistryAndUnregisterRemovesIt) {
    ASSERT_EQ(led::DllRegisterServer(), S_OK);
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT, "LED.LedCtrl.1\\CLSID", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryString(""), "{63250224-7F96-455A-9ED8-DF4CBBCDBE91}");
    ASSERT_EQ(
        key.Open(HKEY_CLASSES_ROOT, "CLSID\\{63250224-7F96-455A-9ED8-DF4CBBCDBE91}", KEY_READ),
        ERROR_SUCCESS);
    EXPECT_EQ(key.QueryString(""), "Led Control");
    ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT,
                       "CLSID\\{63250224-7F96-455A-9ED8-DF4CBBCDBE91}\\MiscStatus\\1", KEY_READ),
              ERROR_SUCCESS);
    EXPECT_EQ(key.QueryString(""), "131473");
    ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT,
                       "CLSID\\{63250224-7F96-455A-9ED8-DF4CBBCDBE91}\\InprocServer32", KEY_READ),
              ERROR_SUCCESS);
    EXPECT_NE(key.QueryString("")->find("libled"), std::string::npos);
    EXPECT_EQ(key.QueryString("ThreadingModel"), "Apartment");
    ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT, "LED.LedPropPage.1\\CLSID", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(key.Open(HKEY_CLASSES_ROOT, "TypeLib\\{79315A9F-3923-4408-B771-34A2A0B91C99}\\1.0",
                       KEY_READ),
              ERROR_SUCCESS);

    ASSERT_EQ(led::DllUnregisterServer(), S_OK);
    EXPECT_NE(key.Open(HKEY_CLASSES_ROOT, "LED.LedCtrl.1", KEY_READ), ERROR_SUCCESS);
    EXPECT_NE(
        key.Open(HKEY_CLASSES_ROOT, "CLSID\\{63250224-7F96-455A-9ED8-DF4CBBCDBE91}", KEY_READ),
        ERROR_SUCCESS);
    EXPECT_NE(
        key.Open(HKEY_CLASSES_ROOT, "TypeLib\\{79315A9F-3923-4408-B771-34A2A0B91C99}", KEY_READ),
        ERROR_SUCCESS);

    void* factory = nullptr;
    EXPECT_EQ(led::DllGetClassObject(CLSID_LedCtrl, IID_IClassFactory, &factory), S_OK);
    ASSERT_NE(factory, nullptr);
    static_cast<IClassFactory*>(factory)->Release();
    EXPECT_NE(led::DllGetClassObject(GUID_NULL, IID_IClassFactory, &factory), S_OK);
}
