#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <libxml/tree.h>

#include "utilon/FloatCheck.h"
#include "utilon/Points.h"

using utilon::kPi;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Points, HeadingInEveryQuadrantAndOnTheAxes) {
    const C2DPoint o;
    EXPECT_NEAR(o.Heading({1, 1}), 45.0, 1e-12);
    EXPECT_NEAR(o.Heading({1, -1}), 135.0, 1e-12);
    EXPECT_NEAR(o.Heading({-1, -1}), 225.0, 1e-12);
    EXPECT_NEAR(o.Heading({-1, 1}), 315.0, 1e-12);
    EXPECT_EQ(o.Heading({0, 1}), 0.0);
    EXPECT_EQ(o.Heading({1, 0}), 90.0);
    EXPECT_EQ(o.Heading({0, -1}), 180.0);
    EXPECT_EQ(o.Heading({-1, 0}), 270.0);
    EXPECT_EQ(o.Heading(o), 0.0);
    // Measured from the point itself, not from the origin.
    EXPECT_NEAR(C2DPoint(10, 10).Heading({10 + std::sqrt(3.0), 11}), 60.0, 1e-9);
    EXPECT_NEAR(C2DPoint(-3, 4).Heading(), 360.0 - std::atan2(3.0, 4.0) * 180 / kPi, 1e-9);
    EXPECT_NEAR(XY_ToHeading(-1, 1), 315.0, 1e-12);
}

TEST(Points, AngleInEveryQuadrantAndOnTheAxes) {
    const C2DPoint o;
    EXPECT_NEAR(o.Angle({1, 1}), kPi / 4, 1e-12);
    EXPECT_NEAR(o.Angle({-1, 1}), 3 * kPi / 4, 1e-12);
    EXPECT_NEAR(o.Angle({-1, -1}), 5 * kPi / 4, 1e-12);
    EXPECT_NEAR(o.Angle({1, -1}), 7 * kPi / 4, 1e-12);
    EXPECT_EQ(o.Angle({1, 0}), 0.0);
    EXPECT_EQ(o.Angle({0, 1}), kPi / 2);
    EXPECT_EQ(o.Angle({-1, 0}), kPi);
    EXPECT_EQ(o.Angle({0, -1}), 3 * kPi / 2);
    EXPECT_EQ(o.Angle(o), 0.0);
    EXPECT_NEAR(C2DPoint(2, 2).Angle(), kPi / 4, 1e-12);
    EXPECT_NEAR(XY_ToAngle_OLD(-1, -1), 5 * kPi / 4, 1e-12);
    EXPECT_NEAR(C3DPoint(0, 0, 5).Angle(C3DPoint(-2, 2, -7)), 3 * kPi / 4, 1e-12);
    EXPECT_NEAR(C3DPoint(1, 1, 0).Heading(C3DPoint(0, 0, 3)), 225.0, 1e-12);
}

TEST(Points, BearingAndItsRadiansInEveryQuadrant) {
    EXPECT_EQ(Bearing(0, 0), 0.0);
    EXPECT_NEAR(Bearing(1, 1), 45.0, 1e-12);
    EXPECT_NEAR(Bearing(1, -1), 135.0, 1e-12);
    EXPECT_NEAR(Bearing(-1, -1), 225.0, 1e-12);
    EXPECT_NEAR(Bearing(-1, 1), 315.0, 1e-12);
    EXPECT_NEAR(Bearing(2, 1), 90.0 - std::atan(0.5) * 180 / kPi, 1e-12);
    EXPECT_NEAR(Bearing(-2, 1), 270.0 + std::atan(0.5) * 180 / kPi, 1e-12);
    EXPECT_NEAR(Bearing(1, 2), std::atan(0.5) * 180 / kPi, 1e-12);
    EXPECT_NEAR(Bearing(-1, 2), 360.0 - std::atan(0.5) * 180 / kPi, 1e-12);
    EXPECT_EQ(Bearing(0, 1), 0.0);
    EXPECT_EQ(Bearing(1, 0), 90.0);
    EXPECT_EQ(Bearing(0, -1), 180.0);
    EXPECT_EQ(Bearing(-1, 0), 270.0);
    EXPECT_NEAR(XY_ToAngle(-1, -1), 225.0 * kPi / 180, 1e-12);
    EXPECT_EQ(Range(3, 4), 5.0);
}

TEST(Points, OriginToleranceDistancesAndRotation) {
    EXPECT_TRUE(C2DPoint(5e-7, 0).IsOrigin());
    EXPECT_FALSE(C2DPoint(2e-6, 0).IsOrigin());
    EXPECT_TRUE(C3DPoint(3e-7, 3e-7, 3e-7).IsOrigin());
    EXPECT_FALSE(C3DPoint(0, 0, 2e-6).IsOrigin());
    EXPECT_TRUE(C3DPoint(0, 0, 2e-6).IsHorizOrigin());
    EXPECT_EQ(C3DPoint(1, 2, 2).Distance(), 3.0);
    EXPECT_EQ(C3DPoint(1, 1, 1).Distance(C3DPoint(2, 3, 3)), 3.0);
    EXPECT_EQ(C3DPoint(1, 1, 9).HorizDistance(C3DPoint(4, 5, -9)), 5.0);
    EXPECT_EQ(C2DPoint(1, 1).Distance({4, 5}), 5.0);

    C3DPoint p(1, 0, 7);
    p.TrigRotate2D(90);
    EXPECT_NEAR(p.x, 0.0, 1e-15);
    EXPECT_NEAR(p.y, 1.0, 1e-15);
    EXPECT_EQ(p.z, 7.0);
    p.TrigRotate2D(-180);
    EXPECT_NEAR(p.y, -1.0, 1e-15);

    const C3DPoint a(1, 2, 3), b(4, 6, 8);
    EXPECT_EQ(b - a, C3DPoint(3, 4, 5));
    EXPECT_EQ(a + b, C3DPoint(5, 8, 11));
    EXPECT_EQ(-a, C3DPoint(-1, -2, -3));
    EXPECT_EQ(a * 2, C3DPoint(2, 4, 6));
    EXPECT_EQ(b / 2, C3DPoint(2, 3, 4));
    EXPECT_NE(a, C3DPoint(1, 2, 3.0000001));
    EXPECT_EQ(a.Dz(b), 5.0);
    EXPECT_EQ(C2DPoint(1, 2) + C2DPoint(3, 4), C2DPoint(4, 6));
    EXPECT_EQ(C2DPoint(1, 2).Dy({3, 7}), 5.0);
}

TEST(Points, WindowCoordinatesAreCutAndHeldInRange) {
    POINT p = C2DPoint(12.9, -3.7);
    EXPECT_EQ(p.x, 12);
    EXPECT_EQ(p.y, -3);
    p = C2DPoint(kNaN, 1e300);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, std::numeric_limits<LONG>::max());
    EXPECT_EQ(C2DPoint(POINT{3, -4}), C2DPoint(3, -4));
    EXPECT_EQ(C2DPoint(SIZE{5, 6}), C2DPoint(5, 6));
    EXPECT_EQ(C3DPoint(POINT{3, -4}), C3DPoint(3, -4, 0));
}

TEST(Points, InvalidValuesAreReportedWithTheirKind) {
    EXPECT_EQ(IsFpValid(1.5), 1);
    EXPECT_EQ(IsFpValid(-0.0), 1);
    EXPECT_EQ(IsFpValid(kNaN), 0);
    EXPECT_EQ(LastFpMessage(), "\n\nFPU: ----------------------->  quiet NaN\n\n");
    EXPECT_EQ(IsFpValid(std::numeric_limits<double>::signaling_NaN()), 0);
    EXPECT_EQ(LastFpMessage(), "\n\nFPU: ----------------------->  signaling NaN\n\n");
    EXPECT_EQ(IsFpValid(-kInf), 0);
    EXPECT_EQ(LastFpMessage(), "\n\nFPU: ----------------------->  negative infinity\n\n");
    EXPECT_EQ(IsFpValid(kInf), 0);
    EXPECT_EQ(LastFpMessage(), "\n\nFPU: ----------------------->  positive infinity\n\n");
    EXPECT_EQ(g_bEnableFPUExceptions, 1);

    // Invalid coordinates are reported but never crash the geometry.
    EXPECT_FALSE(C3DPoint(1, kNaN, 2).IsValid());
    EXPECT_TRUE(C3DPoint(1, 2, 3).IsValid());
    const C3DPoint sum = C3DPoint(kInf, 0, 0) + C3DPoint(1, 1, 1);
    EXPECT_TRUE(std::isinf(sum.x));
    EXPECT_EQ(C2DPoint().Heading({kNaN, kNaN}), 0.0);
    EXPECT_EQ(XY_ToAngle_OLD(kInf, 0), 0.0);
    EXPECT_TRUE(std::isnan(Bearing(kNaN, 1)));
}

// Parses one XML document from text; the caller frees it.
xmlDocPtr Parse(const char* text) {
    return xmlReadMemory(text, static_cast<int>(strlen(text)), "t.xml", nullptr, XML_PARSE_NONET);
}

TEST(Points, XmlRoundTripKeepsSevenSignificantDigits) {
    xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    xmlNodePtr root = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("Item"));
    xmlDocSetRootElement(doc, root);
    const C3DPoint written(1234.5678, -0.000123456789, 0.0);
    ASSERT_TRUE(written.SaveXML(doc, root));

    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &text, &size);
    const std::string xml(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
    xmlFree(text);
    EXPECT_NE(xml.find("<Point3D X=\"1234.568\" Y=\"-0.0001234568\" Z=\"0\"/>"), std::string::npos)
        << xml;

    C3DPoint read;
    ASSERT_TRUE(read.LoadXML(root));
    EXPECT_EQ(read, C3DPoint(1234.568, -0.0001234568, 0.0));
    C3DPoint direct;
    ASSERT_TRUE(direct.LoadXML(root->children));
    EXPECT_EQ(direct, read);
    xmlFreeDoc(doc);
}

TEST(Points, XmlLoadFailuresNameTheMissingTagAndLeaveThePoint) {
    xmlDocPtr doc = Parse(
        "<r><Point3D X='1' Z='3'/><Point3D X='1' Y='oops' Z='3'/>"
        "<Point3D><X>4</X><Y>5</Y><Z>6</Z></Point3D></r>");
    ASSERT_NE(doc, nullptr);
    xmlNodePtr first = xmlFirstElementChild(xmlDocGetRootElement(doc));
    C3DPoint p(7, 8, 9);
    std::string error;
    EXPECT_FALSE(p.LoadXML(first, &error));
    EXPECT_EQ(error, "C3DPoint::LoadXML\nFailed to detect the Y tag");
    EXPECT_EQ(p, C3DPoint(7, 8, 9));

    EXPECT_FALSE(p.LoadXML(xmlNextElementSibling(first), &error));
    EXPECT_EQ(error, "C3DPoint::LoadXML\nException 0x80070057");
    EXPECT_EQ(p, C3DPoint(7, 8, 9));

    EXPECT_TRUE(p.LoadXML(xmlLastElementChild(xmlDocGetRootElement(doc))));
    EXPECT_EQ(p, C3DPoint(4, 5, 6));

    EXPECT_FALSE(p.LoadXML(nullptr, &error));
    EXPECT_EQ(error, "C3DPoint::LoadXML\nException 0x80004003");
    xmlFreeDoc(doc);
}

TEST(Points, ArchiveRoundTripAndDamagedArchives) {
    CArchive out;
    C3DPoint(1.25, -2.5, 1e-300).Serialize(out);
    ASSERT_EQ(out.Bytes().size(), 25u);
    EXPECT_EQ(out.Bytes()[0], C3DPoint::ARCHIVE_VERSION);

    CArchive in(out.Bytes());
    C3DPoint p;
    p.Serialize(in);
    EXPECT_TRUE(in.IsGood());
    EXPECT_EQ(p, C3DPoint(1.25, -2.5, 1e-300));

    std::vector<BYTE> cut(out.Bytes().begin(), out.Bytes().end() - 1);
    CArchive shortIn(cut);
    C3DPoint q(1, 2, 3);
    q.Serialize(shortIn);
    EXPECT_FALSE(shortIn.IsGood());
    EXPECT_EQ(q, C3DPoint(1, 2, 3));

    std::vector<BYTE> newer = out.Bytes();
    newer[0] = 2;
    CArchive newerIn(newer);
    q.Serialize(newerIn);
    EXPECT_FALSE(newerIn.IsGood());
    EXPECT_EQ(q, C3DPoint(1, 2, 3));
}

}  // namespace
