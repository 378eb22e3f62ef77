#include "utilon/Points.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "XmlValues.h"
#include "platform/Com.h"
#include "platform/Debug.h"
#include "utilon/FloatCheck.h"

using utilon::kNearZero;
using utilon::kPi;
using utilon::kTwoPi;

namespace {
constexpr double kDegPerRad = 180.0 / kPi;

LONG ToWindowCoordinate(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    constexpr double lo = std::numeric_limits<LONG>::min();
    constexpr double hi = std::numeric_limits<LONG>::max();
    return static_cast<LONG>(std::trunc(std::fmin(std::fmax(v, lo), hi)));
}
}  // namespace

double Range(double x, double y) {
    return std::sqrt(x * x + y * y);
}

double Bearing(double x, double y) {
    if (std::fabs(x) + std::fabs(y) == 0.0) {
        return 0.0;
    }
    double b;
    if (std::fabs(y) < std::fabs(x)) {
        b = 90.0 - std::atan(y / x) * kDegPerRad;
        if (x < 0.0) {
            b += 180.0;
        }
    } else {
        b = std::atan(x / y) * kDegPerRad;
        if (y < 0.0) {
            b += 180.0;
        }
        if (b < 0.0) {
            b += 360.0;
        }
    }
    return b;
}

double XY_ToAngle(double x, double y) {
    return Bearing(x, y) * kPi / 180.0;
}

double XY_ToAngle_OLD(double dx, double dy) {
    if (std::fabs(dx) > kNearZero && std::fabs(dy) > kNearZero) {
        const double a = std::atan(dy / dx);
        if (dx < 0.0) {
            return a + kPi;
        }
        return a < 0.0 ? a + kTwoPi : a;
    }
    if (std::fabs(dy) > kNearZero) {
        return dy > 0.0 ? utilon::kHalfPi : 3.0 * utilon::kHalfPi;
    }
    if (std::fabs(dx) > kNearZero) {
        return dx > 0.0 ? 0.0 : kPi;
    }
    return 0.0;
}

double XY_ToHeading(double dx, double dy) {
    if (std::fabs(dx) > kNearZero && std::fabs(dy) > kNearZero) {
        double a = std::atan(dy / dx) * kDegPerRad;
        if (dx < 0.0) {
            a += 180.0;
        }
        return std::fmod(90.0 - a + 360.0, 360.0);
    }
    if (std::fabs(dy) > kNearZero) {
        return dy > 0.0 ? 0.0 : 180.0;
    }
    if (std::fabs(dx) > kNearZero) {
        return dx > 0.0 ? 90.0 : 270.0;
    }
    return 0.0;
}

C2DPoint::operator POINT() const {
    return POINT{ToWindowCoordinate(x), ToWindowCoordinate(y)};
}

C3DPoint::C3DPoint(const C3DPoint* p) {
    if (p != nullptr) {
        *this = *p;
    }
}

BOOL C3DPoint::IsValid() const {
    // Every coordinate is checked, so each invalid one is reported.
    const int vx = IsFpValid(x);
    const int vy = IsFpValid(y);
    const int vz = IsFpValid(z);
    return (vx != 0 && vy != 0 && vz != 0) ? TRUE : FALSE;
}

C3DPoint C3DPoint::operator+(const C3DPoint& o) const {
    IsValid();
    o.IsValid();
    return {x + o.x, y + o.y, z + o.z};
}

C3DPoint C3DPoint::operator-(const C3DPoint& o) const {
    IsValid();
    o.IsValid();
    return {x - o.x, y - o.y, z - o.z};
}

C3DPoint C3DPoint::operator-() const {
    IsValid();
    return {-x, -y, -z};
}

C3DPoint C3DPoint::operator*(double f) const {
    IsValid();
    IsFpValid(f);
    return {x * f, y * f, z * f};
}

C3DPoint C3DPoint::operator/(double d) const {
    IsValid();
    IsFpValid(d);
    return {x / d, y / d, z / d};
}

void C3DPoint::Get(double& px, double& py, double& pz) const {
    px = x;
    py = y;
    pz = z;
}

void C3DPoint::Set(double px, double py, double pz) {
    x = px;
    y = py;
    z = pz;
}

double C3DPoint::Distance() const {
    IsValid();
    return std::sqrt(x * x + y * y + z * z);
}

double C3DPoint::Distance(const C3DPoint& o) const {
    IsValid();
    o.IsValid();
    const double dx = Dx(o), dy = Dy(o), dz = Dz(o);
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void C3DPoint::TrigRotate2D(const double& degrees) {
    const double theta = degrees / 180.0 * kPi;
    const double c = std::cos(theta), s = std::sin(theta);
    const double nx = c * x - s * y;
    const double ny = c * y + s * x;
    x = nx;
    y = ny;
}

void C3DPoint::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << ARCHIVE_VERSION << x << y << z;
        return;
    }
    BYTE version = 0;
    double px = 0, py = 0, pz = 0;
    ar >> version;
    if (!ar.IsGood() || version != ARCHIVE_VERSION) {
        ar.SetBad();
        return;
    }
    ar >> px >> py >> pz;
    if (ar.IsGood()) {
        Set(px, py, pz);
    }
}

BOOL C3DPoint::SaveXML(xmlDocPtr doc, xmlNodePtr parent) const {
    if (doc == nullptr || parent == nullptr) {
        return FALSE;
    }
    xmlNodePtr element =
        xmlNewChild(parent, nullptr, reinterpret_cast<const xmlChar*>("Point3D"), nullptr);
    if (element == nullptr) {
        return FALSE;
    }
    utilon::xml::SetNumber(element, "X", x);
    utilon::xml::SetNumber(element, "Y", y);
    utilon::xml::SetNumber(element, "Z", z);
    return TRUE;
}

BOOL C3DPoint::LoadXML(xmlNodePtr element, std::string* error) {
    auto fail = [error](const std::string& text) {
        OutputDebugString(text.c_str());
        if (error != nullptr) {
            *error = text;
        }
        return FALSE;
    };
    xmlNodePtr point = utilon::xml::FindElement(element, "Point3D");
    if (point == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "C3DPoint::LoadXML\nException 0x%08x",
                      static_cast<unsigned>(E_POINTER));
        return fail(text);
    }
    double v[3] = {0, 0, 0};
    const char* names[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        const int found = utilon::xml::GetNumber(point, names[i], v[i]);
        if (found == 0) {
            return fail(std::string("C3DPoint::LoadXML\nFailed to detect the ") + names[i] +
                        " tag");
        }
        if (found < 0) {
            char text[64];
            std::snprintf(text, sizeof text, "C3DPoint::LoadXML\nException 0x%08x",
                          static_cast<unsigned>(E_INVALIDARG));
            return fail(text);
        }
    }
    Set(v[0], v[1], v[2]);
    return TRUE;
}
