#include "attitude/CompassAttitudeWidget.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {
const QColor kBackground(0x1b, 0x24, 0x30);
const QColor kCard(0x26, 0x31, 0x3f);
const QColor kSky(0x3f, 0x8c, 0xd9);
const QColor kSkyHigh(0x1d, 0x5c, 0xa8);
const QColor kGround(0x8a, 0x5a, 0x2b);
const QColor kGroundLow(0x5c, 0x3a, 0x18);
const QColor kMarker(0xff, 0xb3, 0x00);

QString Degrees(float value, int decimals) {
    return QString::number(static_cast<double>(value), 'f', decimals) + QChar(0x00B0);
}

// The compass card: ticks every 5 degrees, figures every 30, cardinal letters; turned so
// that the heading stands at the top.
void DrawCard(QPainter& p, double outer, double inner, float heading) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(kCard);
    QPainterPath ring;
    ring.addEllipse(QPointF(0, 0), outer, outer);
    ring.addEllipse(QPointF(0, 0), inner, inner);
    p.drawPath(ring);

    p.rotate(-static_cast<double>(heading));
    const double width = outer - inner;
    QFont font = p.font();
    font.setPixelSize(std::max(7, static_cast<int>(width * 0.36)));
    const bool figures = outer >= 70.0;  // small cards keep the letters only
    for (int deg = 0; deg < 360; deg += 5) {
        p.save();
        p.rotate(deg);
        const bool ten = deg % 10 == 0;
        const double length = deg % 30 == 0 ? width * 0.32 : (ten ? width * 0.22 : width * 0.12);
        p.setPen(QPen(Qt::white, deg % 30 == 0 ? 2.0 : 1.0));
        p.drawLine(QPointF(0, -outer + 1), QPointF(0, -outer + 1 + length));
        if (deg % 30 == 0) {
            QString label;
            bool cardinal = deg % 90 == 0;
            switch (deg) {
                case 0:
                    label = "N";
                    break;
                case 90:
                    label = "E";
                    break;
                case 180:
                    label = "S";
                    break;
                case 270:
                    label = "W";
                    break;
                default:
                    label = figures ? QString::number(deg) : QString();
                    break;
            }
            if (!label.isEmpty()) {
                QFont f = font;
                f.setBold(cardinal);
                if (cardinal) {
                    f.setPixelSize(static_cast<int>(font.pixelSize() * 1.25));
                }
                p.setFont(f);
                p.setPen(deg == 0 ? QColor(0xff, 0x5a, 0x4a) : QColor(Qt::white));
                const QRectF box(-width, -outer + width * 0.34, 2 * width, width * 0.62);
                p.drawText(box, Qt::AlignHCenter | Qt::AlignVCenter, label);
            }
        }
        p.restore();
    }
    p.restore();

    // The lubber line: the fixed mark over the card's heading.
    p.save();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(kMarker);
    const double s = std::max(4.0, width * 0.28);
    QPolygonF lubber;
    lubber << QPointF(-s, -outer - s * 0.35) << QPointF(s, -outer - s * 0.35)
           << QPointF(0, -outer + s * 1.1);
    p.drawPolygon(lubber);
    p.restore();
}

// The artificial horizon inside the card, the roll scale over it and the vessel symbol.
void DrawHorizon(QPainter& p, double radius, float roll, float pitch) {
    const double perDegree = radius / CCompassAttitudeWidget::kPitchRange;
    p.save();
    QPainterPath clip;
    clip.addEllipse(QPointF(0, 0), radius, radius);
    p.setClipPath(clip);

    p.save();
    p.rotate(-static_cast<double>(roll));
    const double shift = std::clamp(static_cast<double>(pitch), -90.0, 90.0) * perDegree;
    p.translate(0, shift);
    const double big = radius * 4.0;
    QLinearGradient sky(0, -radius * 1.2, 0, 0);
    sky.setColorAt(0, kSkyHigh);
    sky.setColorAt(1, kSky);
    p.fillRect(QRectF(-big, -big, 2 * big, big), sky);
    QLinearGradient ground(0, 0, 0, radius * 1.2);
    ground.setColorAt(0, kGround);
    ground.setColorAt(1, kGroundLow);
    p.fillRect(QRectF(-big, 0, 2 * big, big), ground);
    p.setPen(QPen(Qt::white, std::max(1.5, radius / 60.0)));
    p.drawLine(QPointF(-big, 0), QPointF(big, 0));

    // Pitch ladder: a line every 5 degrees, figures every 10.
    QFont font = p.font();
    font.setPixelSize(std::max(7, static_cast<int>(radius * 0.11)));
    p.setFont(font);
    p.setPen(QPen(Qt::white, 1.0));
    for (int deg = -30; deg <= 30; deg += 5) {
        if (deg == 0) {
            continue;
        }
        const double y = -deg * perDegree;
        const double half = (deg % 10 == 0 ? 0.28 : 0.14) * radius;
        p.drawLine(QPointF(-half, y), QPointF(half, y));
        if (deg % 10 == 0 && radius >= 50.0) {
            const QString figure = QString::number(std::abs(deg));
            p.drawText(QRectF(half + 2, y - radius * 0.08, radius * 0.3, radius * 0.16),
                       Qt::AlignLeft | Qt::AlignVCenter, figure);
            p.drawText(
                QRectF(-half - 2 - radius * 0.3, y - radius * 0.08, radius * 0.3, radius * 0.16),
                Qt::AlignRight | Qt::AlignVCenter, figure);
        }
    }
    // The roll pointer turns with the horizon against the fixed scale.
    p.translate(0, -shift);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const double t = radius * 0.07;
    QPolygonF pointer;
    pointer << QPointF(0, -radius * 0.86) << QPointF(-t, -radius * 0.86 + t * 1.5)
            << QPointF(t, -radius * 0.86 + t * 1.5);
    p.drawPolygon(pointer);
    p.restore();

    // Fixed roll scale: 0, 10, 20, 30, 45 and 60 degrees either side.
    p.setPen(QPen(Qt::white, std::max(1.0, radius / 90.0)));
    for (int deg : {-60, -45, -30, -20, -10, 0, 10, 20, 30, 45, 60}) {
        p.save();
        p.rotate(deg);
        const double length = (deg % 30 == 0) ? radius * 0.12 : radius * 0.07;
        p.drawLine(QPointF(0, -radius), QPointF(0, -radius + length));
        p.restore();
    }
    p.restore();  // clip

    // The vessel symbol stays level in the middle.
    p.save();
    const double w = std::max(1.5, radius / 28.0);
    p.setPen(QPen(Qt::black, w + 2, Qt::SolidLine, Qt::RoundCap));
    const QPointF left[] = {QPointF(-radius * 0.55, 0), QPointF(-radius * 0.2, 0),
                            QPointF(-radius * 0.1, radius * 0.08)};
    const QPointF right[] = {QPointF(radius * 0.55, 0), QPointF(radius * 0.2, 0),
                             QPointF(radius * 0.1, radius * 0.08)};
    for (int pass = 0; pass < 2; ++pass) {
        p.drawPolyline(left, 3);
        p.drawPolyline(right, 3);
        p.drawPoint(QPointF(0, 0));
        p.setPen(QPen(kMarker, w, Qt::SolidLine, Qt::RoundCap));
    }
    p.restore();

    p.setPen(QPen(QColor(0x0d, 0x12, 0x18), std::max(2.0, radius / 40.0)));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(0, 0), radius, radius);
}
}  // namespace

CCompassAttitudeWidget::CCompassAttitudeWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

bool CCompassAttitudeWidget::SetAttitude(float heading, float roll, float pitch) {
    if (!std::isfinite(heading) || !std::isfinite(roll) || !std::isfinite(pitch)) {
        return false;
    }
    heading = std::fmod(heading, 360.0f);
    if (heading < 0.0f) {
        heading += 360.0f;
    }
    if (heading >= 360.0f) {  // a tiny negative value rounds up to 360
        heading = 0.0f;
    }
    if (heading == m_heading && roll == m_roll && pitch == m_pitch) {
        return true;
    }
    m_heading = heading;
    m_roll = roll;
    m_pitch = pitch;
    update();
    return true;
}

int CCompassAttitudeWidget::ValuesBand() const {
    const int band = std::clamp(height() / 6, 0, 52);
    return band >= 22 ? band : 0;
}

QPointF CCompassAttitudeWidget::InstrumentCentre() const {
    return {width() / 2.0, (height() - ValuesBand()) / 2.0};
}

void CCompassAttitudeWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), kBackground);

    // The values in a line below the instrument, when there is room for them.
    QFont font = p.font();
    const int band = ValuesBand();
    const bool values = band > 0;
    const QRectF dial(0, 0, width(), height() - band);
    const double outer = std::max(10.0, std::min(dial.width(), dial.height()) / 2.0 - 8.0);
    const double inner = outer * 0.76;

    p.save();
    p.translate(InstrumentCentre());
    DrawHorizon(p, inner - 2.0, m_roll, m_pitch);
    DrawCard(p, outer, inner, m_heading);
    p.restore();

    if (values) {
        // Three columns: the name small above its value, the value as large as the
        // widest value it may ever show lets it be.
        const QRectF line(0, height() - band, width(), band);
        const double third = line.width() / 3.0;
        const QString names[] = {QStringLiteral("HEADING"), QStringLiteral("PITCH"),
                                 QStringLiteral("ROLL")};
        const QString texts[] = {Degrees(m_heading, 1), Degrees(m_pitch, 2), Degrees(m_roll, 2)};
        QFont nameFont = font;
        nameFont.setPixelSize(std::max(7, band * 3 / 10));
        QFont valueFont = font;
        int pixels = std::max(8, band / 2);
        for (; pixels > 8; --pixels) {
            valueFont.setPixelSize(pixels);
            const QString widest = QStringLiteral("-180.00") + QChar(0x00B0);
            if (QFontMetrics(valueFont).horizontalAdvance(widest) <= third - 6) {
                break;
            }
        }
        valueFont.setPixelSize(pixels);
        const double nameHeight = band * 0.38;
        for (int i = 0; i < 3; ++i) {
            const QRectF column(line.left() + i * third, line.top(), third, line.height());
            p.setFont(nameFont);
            p.setPen(QColor(0x9a, 0xa8, 0xb8));
            p.drawText(QRectF(column.left(), column.top(), third, nameHeight),
                       Qt::AlignHCenter | Qt::AlignBottom, names[i]);
            p.setFont(valueFont);
            p.setPen(i == 0 ? kMarker : QColor(Qt::white));
            p.drawText(
                QRectF(column.left(), column.top() + nameHeight, third, line.height() - nameHeight),
                Qt::AlignHCenter | Qt::AlignVCenter, texts[i]);
        }
    }
}
