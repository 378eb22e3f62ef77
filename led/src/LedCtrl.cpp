#include "led/LedCtrl.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>

#include "SmartDC.h"

namespace {
constexpr ARGB kOpaque = 0xFF000000u;

int Channel(ARGB colour, int shift) {
    return static_cast<int>((colour >> shift) & 0xFFu);
}

ARGB MakeArgb(int alpha, int red, int green, int blue) {
    return (static_cast<ARGB>(alpha) << 24) | (static_cast<ARGB>(red) << 16) |
           (static_cast<ARGB>(green) << 8) | static_cast<ARGB>(blue);
}

QColor ToQColor(ARGB colour) {
    return QColor::fromRgba(colour);
}

// The square of side n centred in the client rectangle, clipped to it.
QRect CentredSquare(const QRect& client, int n) {
    if (n <= 0) {
        return {};
    }
    return QRect((client.width() - n) / 2, (client.height() - n) / 2, n, n).intersected(client);
}

// sRGB <-> linear light, for a gradient blended with gamma correction as the lamp's
// body brush is.
double ToLinear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
int FromLinear(double c) {
    const double s = c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
    return std::clamp(static_cast<int>(std::lround(s * 255.0)), 0, 255);
}

// Centre colour inside the focus (0 = a point at the centre), blending to the surround
// colour at the rim.
void SetBodyStops(QGradient& gradient, ARGB centre, ARGB surround, double focus) {
    constexpr int kSteps = 8;
    QGradientStops stops;
    stops.append({0.0, ToQColor(centre)});
    for (int i = 0; i <= kSteps; ++i) {
        const double t = static_cast<double>(i) / kSteps;
        ARGB blended = kOpaque;
        for (int shift : {16, 8, 0}) {
            const double a = ToLinear(Channel(centre, shift));
            const double b = ToLinear(Channel(surround, shift));
            blended |= static_cast<ARGB>(FromLinear(a + (b - a) * t)) << shift;
        }
        const double position = focus + (1.0 - focus) * t;
        if (position > 0.0) {
            stops.append({position, ToQColor(blended)});
        }
    }
    gradient.setStops(stops);
}
}  // namespace

CLedCtrl::CLedCtrl(QWidget* parent)
    : QWidget(parent),
      m_clrActive(MakeArgb(255, 255, 0, 0)),
      m_clrBackground(kOpaque | (palette().color(QPalette::Button).rgb() & 0xFFFFFFu)) {
    // The lamp fills its whole area itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CLedCtrl::~CLedCtrl() {
    StopTimer();
}

ARGB CLedCtrl::ArgbFromColorRef(COLORREF colour) {
    return MakeArgb(255, GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

COLORREF CLedCtrl::ColorRefFromArgb(ARGB colour) {
    return RGB(Channel(colour, 16), Channel(colour, 8), Channel(colour, 0));
}

COLORREF CLedCtrl::GetActiveColor() const {
    return ColorRefFromArgb(m_clrActive);
}

void CLedCtrl::SetActiveColor(COLORREF colour) {
    m_clrActive = ArgbFromColorRef(colour);
    update();
}

COLORREF CLedCtrl::GetBackgroundColor() const {
    return ColorRefFromArgb(m_clrBackground);
}

void CLedCtrl::SetBackgroundColor(COLORREF colour) {
    m_clrBackground = ArgbFromColorRef(colour);
    update();
}

void CLedCtrl::SetActive(bool active) {
    m_bActive = active ? 1 : 0;
    update();
}

void CLedCtrl::StopTimer() {
    if (m_nTimerId != 0) {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
    }
}

void CLedCtrl::SetFlashing(bool flashing) {
    m_bFlashing = flashing ? 1 : 0;
    // One timer at a time: a second "on" must not leave an earlier timer running that
    // nothing could stop any more, and flashing takes over from a pulse in progress.
    StopTimer();
    if (flashing) {
        m_nPulse = 0;
        m_nTimerId = startTimer(kFlashPeriodMs);
    }
}

void CLedCtrl::Pulse(long milliseconds) {
    SetFlashing(false);
    m_nPulse = 1;
    SetActive(true);
    // A negative period would start no timer and leave the lamp lit for good.
    const long period = std::clamp<long>(milliseconds, 0, 0x7FFFFFFF);
    m_nTimerId = startTimer(static_cast<int>(period));
}

void CLedCtrl::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_nTimerId || m_nTimerId == 0) {
        QWidget::timerEvent(event);
        return;
    }
    if (m_nPulse == 1) {
        m_nPulse = 0;
        StopTimer();
        SetActive(false);
    } else {
        m_bFlashPhase = m_bFlashPhase != 0 ? 0 : 1;
    }
    update();
    QWidget::timerEvent(event);
}

ARGB CLedCtrl::Scale(ARGB colour, int percent) {
    // The single-precision constant lies slightly below 0.01: 255 at 30 percent gives
    // 76.49999..., which rounds to 76.
    const double factor = static_cast<double>(0.01f);
    ARGB result = colour & kOpaque;
    for (int shift : {16, 8, 0}) {
        const double value =
            std::round(Channel(colour, shift) * static_cast<double>(percent) * factor);
        result |= static_cast<ARGB>(std::clamp(value, 0.0, 255.0)) << shift;
    }
    return result;
}

ARGB CLedCtrl::FillZeroChannels(ARGB colour, BYTE level) {
    ARGB result = colour & kOpaque;
    for (int shift : {16, 8, 0}) {
        const int channel = Channel(colour, shift);
        result |= static_cast<ARGB>(channel == 0 ? level : channel) << shift;
    }
    return result;
}

CLedCtrl::Geometry CLedCtrl::CalcGeometry(const QSize& client) {
    Geometry g;
    const QRect clientRect(QPoint(0, 0), client);
    g.s = std::min(client.width(), client.height()) - 2;
    if (g.s <= 0) {
        return g;
    }
    g.a = std::max(g.s / 4, 4);
    g.penA = std::max(std::round(g.s / 30.0), 1.0);
    g.penB = std::max(std::round(g.s / 15.0), 1.5);
    g.bezelWidth = std::max(g.s / 10, 2);
    g.body = CentredSquare(clientRect, g.s);
    g.bezel = CentredSquare(clientRect, g.s - g.bezelWidth / 4);
    return g;
}

void CLedCtrl::paintEvent(QPaintEvent* event) {
    QPainter target(this);
    CSmartDC dc(target, event->rect());
    if (dc.IsValid()) {
        OnDraw(dc.Painter(), rect());
    }
}

void CLedCtrl::OnDraw(QPainter& painter, const QRect& bounds) {
    painter.fillRect(bounds, ToQColor(m_clrBackground));
    const Geometry g = CalcGeometry(bounds.size());
    if (g.s <= 0 || g.body.isEmpty()) {
        return;
    }
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);

    // Lamp body: lit centre only while active and, when flashing, in the "on" phase.
    const ARGB dim = Scale(m_clrActive, 30);
    const bool lit = m_bActive != 0 && (m_bFlashing == 0 || m_bFlashPhase != 0);
    const ARGB centre = lit ? m_clrActive : dim;
    const QRectF bodyRect(g.body);
    QPainterPath body;
    body.addEllipse(bodyRect);
    QRadialGradient brush(bodyRect.center(), bodyRect.width() / 2.0);
    SetBodyStops(brush, centre, dim, 0.0);
    painter.fillPath(body, brush);

    // The glow: the same brush with a flat centre half the size, shifted up and left.
    SetBodyStops(brush, centre, dim, 0.5);
    painter.save();
    QPainterPath clip;
    clip.addEllipse(QRectF(CentredSquare(bounds, g.s - 1)));
    painter.setClipPath(clip, Qt::IntersectClip);
    painter.translate(-0.04 * g.s, -0.04 * g.s);
    painter.fillPath(body, brush);
    painter.restore();

    // Rim arcs; angles are clockwise from the positive x axis, Qt's run the other way.
    auto arc = [&](int shrink, double width, ARGB colour, int start, int sweep) {
        const QRect r = g.body.adjusted(shrink, shrink, -shrink, -shrink);
        if (r.width() <= 0 || r.height() <= 0) {
            return;
        }
        QPen pen(ToQColor(colour), width);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(r), -start * 16, -sweep * 16);
    };
    const ARGB highlight = FillZeroChannels(m_clrActive, 180);
    arc(static_cast<int>(std::round(g.a - g.penB / 2)), g.penA, highlight, 200, 50);
    arc(static_cast<int>(std::round(g.a + g.penB / 2)), g.penA, highlight, 200, 50);
    arc(g.a, g.penB, FillZeroChannels(m_clrActive, 255), 195, 60);

    // Bezel: lit from the lower right on a light background, plain black on a dark one.
    if (g.bezel.isEmpty()) {
        return;
    }
    const bool light = Channel(m_clrBackground, 16) > 39 || Channel(m_clrBackground, 8) > 39 ||
                       Channel(m_clrBackground, 0) > 39;
    const QRectF bezelRect(g.bezel);
    QLinearGradient bezelBrush(bezelRect.bottomRight(), bezelRect.topLeft());
    bezelBrush.setColorAt(0.0, light ? QColor(255, 255, 255) : QColor(0, 0, 0));
    bezelBrush.setColorAt(1.0, light ? ToQColor(0xFF202020u) : QColor(0, 0, 0));
    painter.setPen(QPen(QBrush(bezelBrush), g.bezelWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(bezelRect);
}
