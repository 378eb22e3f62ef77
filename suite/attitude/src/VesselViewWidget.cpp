#include "attitude/VesselViewWidget.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr float kPi = 3.14159265358979f;
constexpr float kViewBearing = 35.0f;    // degrees: the viewer looks towards this bearing
constexpr float kViewElevation = 24.0f;  // degrees: and down by this much
constexpr float kViewDistance = 7.0f;    // scene units from the viewer to the vessel
constexpr float kSceneRadius = 1.95f;    // the sea disc with its letters
constexpr float kSeaRadius = 1.55f;

float Radians(float degrees) {
    return degrees * kPi / 180.0f;
}

// The vessel: a hull two units long (bow at +x, port at +y, deck at z = 0.12), a
// superstructure and navigation lights; each solid convex, so that its faces can be
// turned outwards and hidden from behind.
struct Face {
    std::vector<QVector3D> points;
    QColor colour;
    int solid;
};

struct Solid {
    QVector3D centre;
};

const std::vector<Solid>& Solids() {
    static const std::vector<Solid> solids = {
        {QVector3D(0.0f, 0.0f, -0.02f)},   // hull
        {QVector3D(-0.25f, 0.0f, 0.25f)},  // superstructure
        {QVector3D(-0.25f, 0.0f, 0.50f)},  // wheelhouse roof
    };
    return solids;
}

std::vector<Face> VesselFaces() {
    const QColor deck(0xc9, 0xcd, 0xd2);
    const QColor topsides(0x24, 0x3b, 0x6b);
    const QColor bottom(0xa8, 0x30, 0x2c);
    const QColor white(0xf2, 0xf2, 0xee);
    const QVector3D d0(1.02f, 0, 0.18f), d1(0.45f, 0.28f, 0.12f), d2(-0.95f, 0.28f, 0.12f),
        d3(-0.95f, -0.28f, 0.12f), d4(0.45f, -0.28f, 0.12f);
    const QVector3D c0(0.86f, 0, -0.10f), c1(0.40f, 0.25f, -0.12f), c2(-0.95f, 0.25f, -0.10f),
        c3(-0.95f, -0.25f, -0.10f), c4(0.40f, -0.25f, -0.12f);
    const QVector3D k0(0.55f, 0, -0.24f), k1(-0.92f, 0, -0.22f);
    std::vector<Face> faces = {
        {{d0, d1, d2, d3, d4}, deck, 0},   {{d0, c0, c1, d1}, topsides, 0},
        {{d1, c1, c2, d2}, topsides, 0},   {{d0, d4, c4, c0}, topsides, 0},
        {{d4, d3, c3, c4}, topsides, 0},   {{d2, c2, k1, c3, d3}, white, 0},  // transom
        {{c0, k0, k1, c2, c1}, bottom, 0}, {{c0, c4, c3, k1, k0}, bottom, 0},
    };
    auto box = [&faces](QVector3D lo, QVector3D hi, QColor colour, int solid) {
        const QVector3D p[8] = {
            {lo.x(), lo.y(), lo.z()}, {hi.x(), lo.y(), lo.z()}, {hi.x(), hi.y(), lo.z()},
            {lo.x(), hi.y(), lo.z()}, {lo.x(), lo.y(), hi.z()}, {hi.x(), lo.y(), hi.z()},
            {hi.x(), hi.y(), hi.z()}, {lo.x(), hi.y(), hi.z()},
        };
        const int sides[6][4] = {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                 {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
        for (const auto& s : sides) {
            faces.push_back({{p[s[0]], p[s[1]], p[s[2]], p[s[3]]}, colour, solid});
        }
    };
    box({-0.55f, -0.18f, 0.12f}, {0.05f, 0.18f, 0.40f}, white, 1);
    box({-0.45f, -0.20f, 0.40f}, {-0.05f, 0.20f, 0.46f}, QColor(0x9a, 0xa3, 0xad), 2);
    return faces;
}

// Port (red) and starboard (green) lights on the superstructure's sides.
struct Light {
    QVector3D point;
    QVector3D normal;
    QColor colour;
};
const Light kLights[] = {
    {QVector3D(-0.05f, 0.19f, 0.30f), QVector3D(0, 1, 0), QColor(0xff, 0x30, 0x30)},
    {QVector3D(-0.05f, -0.19f, 0.30f), QVector3D(0, -1, 0), QColor(0x30, 0xe0, 0x60)},
};

// Gram-Schmidt on the rows: bow first, port kept square to it, up from both (right-handed).
bool Orthonormalise(const std::array<float, 9>& m, std::array<QVector3D, 3>& axes) {
    for (float v : m) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    QVector3D bow(m[0], m[1], m[2]);
    QVector3D port(m[3], m[4], m[5]);
    if (bow.length() < 0.1f) {
        return false;
    }
    bow.normalize();
    port -= QVector3D::dotProduct(port, bow) * bow;
    if (port.length() < 0.1f) {
        return false;
    }
    port.normalize();
    axes = {bow, port, QVector3D::crossProduct(bow, port)};
    return true;
}
}  // namespace

CVesselViewWidget::CVesselViewWidget(QWidget* parent)
    : QWidget(parent), m_axes{QVector3D(1, 0, 0), QVector3D(0, 1, 0), QVector3D(0, 0, 1)} {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

bool CVesselViewWidget::SetRotationMatrix(const std::array<float, 9>& matrix) {
    std::array<QVector3D, 3> axes;
    if (!Orthonormalise(matrix, axes)) {
        return false;
    }
    m_axes = axes;
    update();
    return true;
}

bool CVesselViewWidget::SetHeadingOffset(float degrees) {
    if (!std::isfinite(degrees)) {
        return false;
    }
    m_headingOffset = degrees;
    update();
    return true;
}

QVector3D CVesselViewWidget::ToEarth(const QVector3D& v) const {
    const QVector3D earth = v.x() * m_axes[0] + v.y() * m_axes[1] + v.z() * m_axes[2];
    // Clockwise seen from above is a negative turn about "up" in (north, west, up).
    const float a = -Radians(m_headingOffset);
    const float c = std::cos(a), s = std::sin(a);
    return {c * earth.x() - s * earth.y(), s * earth.x() + c * earth.y(), earth.z()};
}

QVector3D CVesselViewWidget::ToView(const QVector3D& e) const {
    const float b = Radians(kViewBearing);
    const QVector3D forward(std::cos(b), -std::sin(b), 0.0f);
    const QVector3D right(-std::sin(b), -std::cos(b), 0.0f);  // bearing + 90
    const float x = QVector3D::dotProduct(e, right);
    const float y = e.z();
    const float z = QVector3D::dotProduct(e, forward);
    const float el = Radians(kViewElevation);
    // Looking down: what lies further away rises on the screen.
    return {x, y * std::cos(el) + z * std::sin(el), -y * std::sin(el) + z * std::cos(el)};
}

QPointF CVesselViewWidget::ToScreen(const QVector3D& v) const {
    // The sea disc and its letters across, the disc seen at a slant plus the mast upright.
    const float across = static_cast<float>(width()) / (2.0f * kSceneRadius);
    const float upright = static_cast<float>(height()) / 2.7f;
    const float scale = std::min(across, upright) * 0.9f;
    const float perspective = kViewDistance / (kViewDistance + v.z());
    const QPointF centre(width() / 2.0, height() * 0.55);
    return {centre.x() + v.x() * scale * perspective, centre.y() - v.y() * scale * perspective};
}

QPointF CVesselViewWidget::Project(const QVector3D& vesselPoint) const {
    return ToScreen(ToView(ToEarth(vesselPoint)));
}

void CVesselViewWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0, QColor(0x2a, 0x3f, 0x58));
    sky.setColorAt(1, QColor(0x0f, 0x17, 0x22));
    p.fillRect(rect(), sky);

    auto earthPoint = [this](float north, float west, float up) {
        return ToScreen(ToView(QVector3D(north, west, up)));
    };
    // The sea: a disc at the waterline with north-south and east-west lines and the
    // cardinal points around it.
    QPolygonF sea;
    for (int i = 0; i < 96; ++i) {
        const float a = 2.0f * kPi * static_cast<float>(i) / 96.0f;
        sea << earthPoint(kSeaRadius * std::cos(a), kSeaRadius * std::sin(a), 0.0f);
    }
    p.setPen(QPen(QColor(0x7f, 0xb8, 0xe6), 1.5));
    p.setBrush(QColor(0x1e, 0x6a, 0x9e, 200));
    p.drawPolygon(sea);
    p.setPen(QPen(QColor(0x9c, 0xcb, 0xef, 150), 1.0, Qt::DashLine));
    p.drawLine(earthPoint(-kSeaRadius, 0, 0), earthPoint(kSeaRadius, 0, 0));
    p.drawLine(earthPoint(0, -kSeaRadius, 0), earthPoint(0, kSeaRadius, 0));
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(std::max(9, std::min(width(), height()) / 18));
    p.setFont(font);
    const struct {
        const char* text;
        float north, west;
    } cardinals[] = {{"N", 1, 0}, {"E", 0, -1}, {"S", -1, 0}, {"W", 0, 1}};
    const float labelRadius = kSeaRadius + 0.28f;
    for (const auto& c : cardinals) {
        const QPointF at = earthPoint(c.north * labelRadius, c.west * labelRadius, 0.0f);
        p.setPen(c.text[0] == 'N' ? QColor(0xff, 0x6a, 0x5a) : QColor(0xe6, 0xee, 0xf5));
        p.drawText(QRectF(at.x() - 20, at.y() - 12, 40, 24), Qt::AlignCenter, c.text);
    }

    // The vessel: faces turned away are hidden, the rest drawn from the back forwards.
    // Light from over the viewer's shoulder, so that what the viewer sees is lit.
    const float b = Radians(kViewBearing);
    const QVector3D light = QVector3D(-std::cos(b), std::sin(b), 1.3f).normalized();
    struct Drawn {
        QPolygonF polygon;
        QColor colour;
        float depth;
    };
    std::vector<Drawn> drawn;
    for (const Face& face : VesselFaces()) {
        QVector3D centre;
        for (const QVector3D& v : face.points) {
            centre += v;
        }
        centre /= static_cast<float>(face.points.size());
        QVector3D normal = QVector3D::normal(face.points[0], face.points[1], face.points[2]);
        if (QVector3D::dotProduct(normal, centre - Solids()[face.solid].centre) < 0) {
            normal = -normal;
        }
        const QVector3D viewNormal = ToView(ToEarth(normal));
        const QVector3D viewCentre = ToView(ToEarth(centre));
        // The viewer sits at depth -distance on the axis.
        const QVector3D toViewer = QVector3D(0, 0, -kViewDistance) - viewCentre;
        if (QVector3D::dotProduct(viewNormal, toViewer) <= 0) {
            continue;
        }
        const float lit = std::max(0.0f, QVector3D::dotProduct(ToEarth(normal), light));
        const float shade = 0.45f + 0.55f * lit;
        QPolygonF polygon;
        for (const QVector3D& v : face.points) {
            polygon << Project(v);
        }
        const QColor c = face.colour;
        drawn.push_back({polygon,
                         QColor::fromRgbF(c.redF() * shade, c.greenF() * shade, c.blueF() * shade),
                         viewCentre.z()});
    }
    std::sort(drawn.begin(), drawn.end(),
              [](const Drawn& a, const Drawn& b) { return a.depth > b.depth; });
    p.setPen(QPen(QColor(0x0b, 0x10, 0x18), 1.0));
    for (const Drawn& d : drawn) {
        p.setBrush(d.colour);
        p.drawPolygon(d.polygon);
    }
    // Mast and lights over the superstructure.
    p.setPen(QPen(QColor(0xe0, 0xe0, 0xe0), std::max(1.5, std::min(width(), height()) / 160.0)));
    p.drawLine(Project(QVector3D(-0.25f, 0, 0.46f)), Project(QVector3D(-0.25f, 0, 0.80f)));
    const double lightSize = std::max(2.0, std::min(width(), height()) / 90.0);
    for (const Light& l : kLights) {
        const QVector3D viewNormal = ToView(ToEarth(l.normal));
        const QVector3D toViewer = QVector3D(0, 0, -kViewDistance) - ToView(ToEarth(l.point));
        if (QVector3D::dotProduct(viewNormal, toViewer) > 0) {
            p.setPen(Qt::NoPen);
            p.setBrush(l.colour);
            p.drawEllipse(Project(l.point), lightSize, lightSize);
        }
    }

    if (m_headingOffset != 0.0f) {
        font.setBold(false);
        font.setPixelSize(std::max(9, std::min(width(), height()) / 24));
        p.setFont(font);
        p.setPen(QColor(0xc8, 0xd4, 0xe0));
        p.drawText(rect().adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("Heading offset %1%2")
                       .arg(static_cast<double>(m_headingOffset), 0, 'f', 1)
                       .arg(QChar(0x00B0)));
    }
}
