// Positions and the conversions of a vector into a range, a mathematical angle (radians,
// counter-clockwise from +x) or a compass heading (degrees, clockwise from +y, x east and
// y north). Every test for "zero" uses the one tolerance 1e-6.
#pragma once

#include <string>

#include <libxml/tree.h>

#include "platform/Types.h"
#include "utilon/Archive.h"

namespace utilon {
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 2.0 * kPi;
inline constexpr double kHalfPi = kPi / 2.0;
inline constexpr double kNearZero = 1e-6;
}  // namespace utilon

double Range(double x, double y);
// Compass bearing of (x, y) in degrees, [0, 360).
double Bearing(double x, double y);
// Compass heading of (x, y) in degrees, [0, 360).
double XY_ToHeading(double x, double y);
// The bearing of (x, y) in radians.
double XY_ToAngle(double x, double y);
// Mathematical angle of (x, y) in radians, [0, 2π).
double XY_ToAngle_OLD(double x, double y);

class C2DPoint {
public:
    double x = 0.0;
    double y = 0.0;

    C2DPoint() = default;
    C2DPoint(double px, double py) : x(px), y(py) {}
    explicit C2DPoint(const POINT& p) : x(p.x), y(p.y) {}
    explicit C2DPoint(const SIZE& s) : x(s.cx), y(s.cy) {}

    C2DPoint operator+(const C2DPoint& o) const { return {x + o.x, y + o.y}; }
    C2DPoint operator-(const C2DPoint& o) const { return {x - o.x, y - o.y}; }
    // Window coordinates cut toward zero; NaN gives 0 and the value is held in range.
    operator POINT() const;

    double Dx(const C2DPoint& o) const { return o.x - x; }
    double Dy(const C2DPoint& o) const { return o.y - y; }
    bool operator==(const C2DPoint& o) const { return x == o.x && y == o.y; }
    bool operator!=(const C2DPoint& o) const { return !(*this == o); }
    BOOL IsOrigin() const { return Distance() <= utilon::kNearZero ? TRUE : FALSE; }

    double Distance() const { return Range(x, y); }
    double Distance(const C2DPoint& o) const { return Range(Dx(o), Dy(o)); }
    double Angle() const { return C2DPoint().Angle(*this); }
    double Angle(const C2DPoint& o) const { return XY_ToAngle_OLD(Dx(o), Dy(o)); }
    double Heading() const { return C2DPoint().Heading(*this); }
    double Heading(const C2DPoint& o) const { return XY_ToHeading(Dx(o), Dy(o)); }
};

class C3DPoint {
public:
    static constexpr double NEAR_ZERO_DIFF = 1e-6;
    // The archive layout's version byte.
    static constexpr BYTE ARCHIVE_VERSION = 1;

    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    C3DPoint() = default;
    C3DPoint(double px, double py, double pz) : x(px), y(py), z(pz) {}
    C3DPoint(const C3DPoint&) = default;
    explicit C3DPoint(const C3DPoint* p);
    explicit C3DPoint(const POINT& p) : x(p.x), y(p.y) {}
    virtual ~C3DPoint() = default;
    C3DPoint& operator=(const C3DPoint&) = default;

    C3DPoint operator+(const C3DPoint& o) const;
    C3DPoint operator-(const C3DPoint& o) const;
    C3DPoint operator-() const;
    C3DPoint operator*(double f) const;
    C3DPoint operator/(double d) const;

    void Get(double& px, double& py, double& pz) const;
    void Set(double px, double py, double pz);
    double X() const { return x; }
    double Y() const { return y; }
    double Z() const { return z; }
    double Dx(const C3DPoint& o) const { return o.x - x; }
    double Dy(const C3DPoint& o) const { return o.y - y; }
    double Dz(const C3DPoint& o) const { return o.z - z; }
    // Nonzero when all three coordinates are finite.
    BOOL IsValid() const;
    bool operator==(const C3DPoint& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const C3DPoint& o) const { return !(*this == o); }
    BOOL IsOrigin() const { return Distance() <= NEAR_ZERO_DIFF ? TRUE : FALSE; }
    BOOL IsHorizOrigin() const { return HorizDistance() <= NEAR_ZERO_DIFF ? TRUE : FALSE; }

    double Distance() const;
    double Distance(const C3DPoint& o) const;
    double HorizDistance() const { return Range(x, y); }
    double HorizDistance(const C3DPoint& o) const { return Range(Dx(o), Dy(o)); }
    double Angle() const { return XY_ToAngle_OLD(x, y); }
    double Angle(const C3DPoint& o) const { return XY_ToAngle_OLD(Dx(o), Dy(o)); }
    double Heading() const { return XY_ToHeading(x, y); }
    double Heading(const C3DPoint& o) const { return XY_ToHeading(Dx(o), Dy(o)); }
    // Turns the point about the z axis, counter-clockwise by the angle in degrees.
    void TrigRotate2D(const double& degrees);

    // Version byte, then x, y, z. A damaged or newer archive leaves the point unchanged
    // and the archive bad.
    virtual void Serialize(CArchive& ar);
    // Adds a "Point3D" element with the attributes "X", "Y", "Z" under the parent.
    virtual BOOL SaveXML(xmlDocPtr doc, xmlNodePtr parent) const;
    // Reads a "Point3D" element (the element itself, or its first "Point3D" child). On
    // failure the point is unchanged, the reason goes to the debugger output and, when
    // asked, to error.
    virtual BOOL LoadXML(xmlNodePtr element, std::string* error = nullptr);
};
