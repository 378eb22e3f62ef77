#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QVBoxLayout>
#include <cmath>
#include <limits>
#include <memory>

#include "TestSupport.h"
#include "attitude/AttitudeControls.h"
#include "attitude/CompassAttitudeWidget.h"
#include "attitude/VesselViewWidget.h"

namespace {
QApplication& App() {
    static int argc = 1;
    static char name[] = "suite_attitude_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class AttitudeControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        CoInitialize(nullptr);
    }
    void TearDown() override { CoUninitialize(); }

    template <class I>
    HRESULT Create(const CLSID& clsid, const IID& iid, CComPtr<I>& out) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, reinterpret_cast<void**>(&out));
    }
};

// A rotation matrix in the sensor's layout (rows: bow, port, up in north, west, up) for a
// heading turned clockwise, the bow raised and the starboard side lowered, in degrees.
std::array<float, 9> Matrix(float heading, float pitch, float roll) {
    const float h = -heading * 3.14159265f / 180.0f;
    const float p = -pitch * 3.14159265f / 180.0f;
    const float r = roll * 3.14159265f / 180.0f;
    // body -> earth = Rz(h) * Ry(p) * Rx(r); the rows of the sensor's matrix are its columns.
    const float ch = std::cos(h), sh = std::sin(h), cp = std::cos(p), sp = std::sin(p),
                cr = std::cos(r), sr = std::sin(r);
    const float R[3][3] = {{ch * cp, ch * sp * sr - sh * cr, ch * sp * cr + sh * sr},
                           {sh * cp, sh * sp * sr + ch * cr, sh * sp * cr - ch * sr},
                           {-sp, cp * sr, cp * cr}};
    return {R[0][0], R[1][0], R[2][0], R[0][1], R[1][1], R[2][1], R[0][2], R[1][2], R[2][2]};
}

void Save(QWidget& widget, const QSize& size, const std::string& name) {
    widget.resize(size);
    const QImage image = widget.grab().toImage();
    ASSERT_EQ(image.size(), size);
    const std::string path = tavimo_test::OutputDir() + "/" + name + "-" +
                             std::to_string(size.width()) + "x" + std::to_string(size.height()) +
                             ".png";
    ASSERT_TRUE(image.save(QString::fromStdString(path)));
}
}  // namespace

TEST_F(AttitudeControlsTest, ControlsAreCreatedByClassOrProgIdOnlyWhileRegistered) {
    CComPtr<IControlWidget> control;
    EXPECT_EQ(Create(attitude::CLSID_AttitudeCtrl, IID_IControlWidget, control),
              REGDB_E_CLASSNOTREG);
    attitude::CAttitudeControlsRegistration registration;
    ASSERT_TRUE(registration.IsRegistered());
    for (const char* progId : {attitude::kAttitudeCtrlProgId, attitude::kView3DCtrlProgId}) {
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << progId;
        CComPtr<IControlWidget> created;
        ASSERT_EQ(Create(clsid, IID_IControlWidget, created), S_OK) << progId;
        ASSERT_NE(created->GetWidget(), nullptr);
    }
    CComPtr<IAttitudeCtrl> compass;
    ASSERT_EQ(Create(attitude::CLSID_AttitudeCtrl, attitude::IID_IAttitudeCtrl, compass), S_OK);
    CComPtr<IView3DCtrl> wrong;
    EXPECT_EQ(compass.QueryInterface(attitude::IID_IView3DCtrl, &wrong), E_NOINTERFACE);
    void* aggregated = nullptr;
    EXPECT_EQ(CoCreateInstance(attitude::CLSID_View3DCtrl, reinterpret_cast<IUnknown*>(0x1),
                               CLSCTX_ALL, IID_IUnknown, &aggregated),
              CLASS_E_NOAGGREGATION);

    // Revoking one control leaves the other: the 3-D view alone can be missing.
    attitude::CAttitudeControlsRegistration partial;
    CComClassRegistration view = attitude::RegisterView3DCtrl();
    partial.Revoke();
    registration.Revoke();
    CComPtr<IControlWidget> none;
    EXPECT_EQ(Create(attitude::CLSID_AttitudeCtrl, IID_IControlWidget, none), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(Create(attitude::CLSID_View3DCtrl, IID_IControlWidget, none), S_OK);
}

TEST_F(AttitudeControlsTest, TheControlOwnsItsWidgetUntilItsWindowDestroysIt) {
    attitude::CAttitudeControlsRegistration registration;
    CComPtr<IAttitudeCtrl> compass;
    ASSERT_EQ(Create(attitude::CLSID_AttitudeCtrl, attitude::IID_IAttitudeCtrl, compass), S_OK);
    CComPtr<IControlWidget> host;
    ASSERT_EQ(compass.QueryInterface(IID_IControlWidget, &host), S_OK);
    QPointer<QWidget> widget = host->GetWidget();
    ASSERT_TRUE(qobject_cast<CCompassAttitudeWidget*>(widget.data()));

    {
        auto window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(widget);
        EXPECT_EQ(widget->parent(), window.get());
        EXPECT_EQ(compass->SetAttitude(10.0f, 1.0f, 2.0f), S_OK);
    }  // the window goes first and takes the widget with it
    EXPECT_TRUE(widget.isNull());
    EXPECT_EQ(host->GetWidget(), nullptr);
    EXPECT_EQ(compass->SetAttitude(10.0f, 1.0f, 2.0f), E_UNEXPECTED);
    float h = 0, r = 0, p = 0;
    EXPECT_EQ(compass->GetAttitude(&h, &r, &p), E_UNEXPECTED);

    // Released first, the control deletes its widget (and takes it out of its window).
    CComPtr<IView3DCtrl> view;
    ASSERT_EQ(Create(attitude::CLSID_View3DCtrl, attitude::IID_IView3DCtrl, view), S_OK);
    CComPtr<IControlWidget> viewHost;
    ASSERT_EQ(view.QueryInterface(IID_IControlWidget, &viewHost), S_OK);
    QWidget window;
    QPointer<QWidget> viewWidget = viewHost->GetWidget();
    viewWidget->setParent(&window);
    viewHost.Release();
    view.Release();
    EXPECT_TRUE(viewWidget.isNull());
    EXPECT_TRUE(window.children().isEmpty());
}

TEST_F(AttitudeControlsTest, AttitudeValuesAreCheckedAndTheHeadingKeptInRange) {
    attitude::CAttitudeControlsRegistration registration;
    CComPtr<IAttitudeCtrl> compass;
    ASSERT_EQ(Create(attitude::CLSID_AttitudeCtrl, attitude::IID_IAttitudeCtrl, compass), S_OK);
    float h = -1, r = -1, p = -1;
    EXPECT_EQ(compass->SetAttitude(370.0f, -4.5f, 2.25f), S_OK);
    ASSERT_EQ(compass->GetAttitude(&h, &r, &p), S_OK);
    EXPECT_FLOAT_EQ(h, 10.0f);
    EXPECT_FLOAT_EQ(r, -4.5f);
    EXPECT_FLOAT_EQ(p, 2.25f);
    EXPECT_EQ(compass->SetAttitude(-90.0f, 0, 0), S_OK);
    compass->GetAttitude(&h, &r, &p);
    EXPECT_FLOAT_EQ(h, 270.0f);
    EXPECT_EQ(compass->SetAttitude(-1e-8f, 0, 0), S_OK);
    compass->GetAttitude(&h, &r, &p);
    EXPECT_GE(h, 0.0f);
    EXPECT_LT(h, 360.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(compass->SetAttitude(nan, 0, 0), E_INVALIDARG);
    EXPECT_EQ(compass->SetAttitude(0, inf, 0), E_INVALIDARG);
    EXPECT_EQ(compass->SetAttitude(0, 0, -inf), E_INVALIDARG);
    EXPECT_EQ(compass->GetAttitude(nullptr, &r, &p), E_POINTER);

    CComPtr<IView3DCtrl> view;
    ASSERT_EQ(Create(attitude::CLSID_View3DCtrl, attitude::IID_IView3DCtrl, view), S_OK);
    const auto level = Matrix(0, 0, 0);
    EXPECT_EQ(view->SetRotationMatrix(level.data(), 9), S_OK);
    EXPECT_EQ(view->SetRotationMatrix(level.data(), 8), E_INVALIDARG);
    EXPECT_EQ(view->SetRotationMatrix(nullptr, 9), E_POINTER);
    const float zero[9] = {};
    EXPECT_EQ(view->SetRotationMatrix(zero, 9), E_INVALIDARG);  // before the first sample
    float broken[9] = {1, 0, 0, 0, 1, 0, 0, 0, nan};
    EXPECT_EQ(view->SetRotationMatrix(broken, 9), E_INVALIDARG);
    EXPECT_EQ(view->SetHeadingOffset(12.5f), S_OK);
    EXPECT_EQ(view->SetHeadingOffset(nan), E_INVALIDARG);
    float offset = 0;
    ASSERT_EQ(view->GetHeadingOffset(&offset), S_OK);
    EXPECT_FLOAT_EQ(offset, 12.5f);
}

TEST_F(AttitudeControlsTest, TheHorizonMovesWithPitchAndTiltsAgainstRoll) {
    CCompassAttitudeWidget widget;
    widget.resize(300, 340);
    auto sample = [&widget](int dx, int dy) {
        const QImage image = widget.grab().toImage();
        const QPoint centre = widget.InstrumentCentre().toPoint();
        const QColor c = image.pixelColor(centre + QPoint(dx, dy));
        return c.blue() > c.red() ? 's' : 'g';  // sky blue or ground brown
    };
    widget.SetAttitude(0, 0, 0);
    EXPECT_EQ(sample(0, -20), 's');
    EXPECT_EQ(sample(0, 20), 'g');
    widget.SetAttitude(0, 0, 10);  // bow up: more sky, the horizon sinks
    EXPECT_EQ(sample(0, 20), 's');
    widget.SetAttitude(0, 0, -10);
    EXPECT_EQ(sample(0, -20), 'g');
    widget.SetAttitude(0, 20, 0);  // starboard down: the horizon rises on the right
    EXPECT_EQ(sample(70, -12), 'g');
    EXPECT_EQ(sample(-70, 12), 's');
}

TEST_F(AttitudeControlsTest, TheVesselIsDrawnFromTheMatrixAndTheHeadingOffset) {
    CVesselViewWidget view;
    view.resize(400, 300);
    const QVector3D bow(1, 0, 0), stern(-1, 0, 0), port(0, 0.28f, 0.12f),
        starboard(0, -0.28f, 0.12f);
    ASSERT_TRUE(view.SetRotationMatrix(Matrix(0, 0, 0)));
    const QPointF levelBow = view.Project(bow);
    EXPECT_LT(levelBow.y(), view.Project(stern).y());  // the bow points away from the viewer
    EXPECT_NEAR(view.Project(port).y(), view.Project(starboard).y() - 0.0, 40.0);

    ASSERT_TRUE(view.SetRotationMatrix(Matrix(0, 15, 0)));
    EXPECT_LT(view.Project(bow).y(), levelBow.y() - 5);  // bow raised on the screen

    ASSERT_TRUE(view.SetRotationMatrix(Matrix(0, 0, 0)));
    const double portLevel = view.Project(port).y() - view.Project(starboard).y();
    ASSERT_TRUE(view.SetRotationMatrix(Matrix(0, 0, 20)));
    EXPECT_LT(view.Project(port).y() - view.Project(starboard).y(), portLevel - 5);

    // A heading offset turns the vessel exactly as the same change of heading would.
    ASSERT_TRUE(view.SetRotationMatrix(Matrix(30, 5, -8)));
    ASSERT_TRUE(view.SetHeadingOffset(90));
    const QPointF withOffset = view.Project(bow);
    ASSERT_TRUE(view.SetHeadingOffset(0));
    ASSERT_TRUE(view.SetRotationMatrix(Matrix(120, 5, -8)));
    const QPointF turned = view.Project(bow);
    EXPECT_NEAR(withOffset.x(), turned.x(), 0.5);
    EXPECT_NEAR(withOffset.y(), turned.y(), 0.5);
    // Rows that are not quite square (a noisy sample) are squared up, not rejected.
    auto noisy = Matrix(45, 0, 0);
    noisy[3] += 0.05f;
    EXPECT_TRUE(view.SetRotationMatrix(noisy));
}

TEST_F(AttitudeControlsTest, ScreenshotsAtTwoSizes) {
    CCompassAttitudeWidget compass;
    compass.SetAttitude(47.5f, 12.0f, -6.0f);
    Save(compass, {260, 300}, "attitude-compass");
    Save(compass, {140, 160}, "attitude-compass");
    CVesselViewWidget view;
    view.SetRotationMatrix(Matrix(47.5f, -6.0f, 12.0f));
    Save(view, {360, 280}, "attitude-3dview");
    Save(view, {180, 140}, "attitude-3dview");
    view.SetRotationMatrix(Matrix(292.0f, 4.0f, -9.0f));
    view.SetHeadingOffset(10.0f);
    Save(view, {480, 320}, "attitude-3dview-offset");
}
