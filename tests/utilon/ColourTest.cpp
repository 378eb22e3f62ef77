#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "utilon/Colour.h"

namespace {

TEST(Colour, PackedValueCutsEachChannelAndLeavesAlphaOut) {
    EXPECT_EQ(static_cast<unsigned long>(CRGBColour()), 0xFFFFFFul);
    EXPECT_EQ(static_cast<unsigned long>(CRGBColour(1, 0.5, 0, 0.3)), 0x007FFFul);
    EXPECT_EQ(static_cast<unsigned long>(CRGBColour(0, 0, 1, 0)), 0xFF0000ul);
    EXPECT_EQ(static_cast<unsigned long>(CRGBColour(0.2, 0.6, 0.999, 1)), 0xFE9933ul);
    // Out-of-range channels are masked to eight bits; non-finite ones pack as 0.
    EXPECT_EQ(static_cast<unsigned long>(CRGBColour(2.0, 0, 0, 1)), 0x0000FEul);
    EXPECT_EQ(
        static_cast<unsigned long>(CRGBColour(std::numeric_limits<double>::quiet_NaN(), 0, 1, 1)),
        0xFF0000ul);
    EXPECT_EQ(static_cast<unsigned long>(
                  CRGBColour(0, -std::numeric_limits<double>::infinity(), 1e300, 1)),
              0ul);

    CRGBColour c(0.1, 0.2, 0.3, 0.25);
    c = 0x336699ul;
    EXPECT_DOUBLE_EQ(c.Red(), 0x99 / 255.0);
    EXPECT_DOUBLE_EQ(c.Green(), 0x66 / 255.0);
    EXPECT_DOUBLE_EQ(c.Blue(), 0x33 / 255.0);
    EXPECT_EQ(c.Alpha(), 0.25);
    EXPECT_EQ(static_cast<unsigned long>(c), 0x336699ul);
    EXPECT_EQ(c.SetColour(0.0, 0.0, 0.0, 0.5), 1);
    EXPECT_EQ(static_cast<unsigned long>(c), 0ul);
}

TEST(Colour, NamesInAnyCase) {
    EXPECT_EQ(NameToCOLORREF("dkgray"), 0x808080u);
    EXPECT_EQ(NameToCOLORREF("DkMagenta"), 0x800080u);
    EXPECT_EQ(NameToCOLORREF("RED"), 0x0000FFu);
    EXPECT_EQ(NameToCOLORREF("blue"), 0xFF0000u);
    EXPECT_EQ(NameToCOLORREF("Yellow"), 0x00FFFFu);
    EXPECT_EQ(NameToCOLORREF("black"), 0x000000u);
    EXPECT_EQ(NameToCOLORREF("purple"), 0xFFFFFFu);
    EXPECT_EQ(NameToCOLORREF(""), 0xFFFFFFu);
    EXPECT_EQ(NameToCOLORREF("RED "), 0xFFFFFFu);
    CRGBColour c(std::string("dkgreen"));
    EXPECT_EQ(static_cast<unsigned long>(c), 0x008000ul);
    c = std::string("Cyan");
    EXPECT_EQ(static_cast<unsigned long>(c), 0xFFFF00ul);
}

TEST(Colour, IsAFrameworkObjectCreatedByName) {
    const CRuntimeClass* cls = CRuntimeClass::FromName("CRGBColour");
    ASSERT_NE(cls, nullptr);
    std::unique_ptr<CObject> object(cls->CreateObject());
    ASSERT_TRUE(object->IsKindOf(RUNTIME_CLASS(CRGBColour)));
    EXPECT_EQ(static_cast<CRGBColour*>(object.get())->Alpha(), 1.0);
}

TEST(Colour, ArchiveAndXmlRoundTrips) {
    CArchive out;
    CRGBColour(0.1, 0.2, 0.3, 0.4).Serialize(out);
    CArchive in(out.Bytes());
    CRGBColour read;
    read.Serialize(in);
    EXPECT_TRUE(in.IsGood());
    EXPECT_EQ(read.Red(), 0.1);
    EXPECT_EQ(read.Alpha(), 0.4);

    CArchive empty(std::vector<BYTE>{});
    read.Serialize(empty);
    EXPECT_FALSE(empty.IsGood());
    EXPECT_EQ(read.Blue(), 0.3);

    xmlDocPtr doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    xmlNodePtr root = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("Item"));
    xmlDocSetRootElement(doc, root);
    ASSERT_TRUE(CRGBColour(0.25, 0.5, 0.75, 1).SaveXML(doc, root));
    CRGBColour fromXml;
    ASSERT_TRUE(fromXml.LoadXML(root));
    EXPECT_EQ(fromXml.Green(), 0.5);
    EXPECT_EQ(fromXml.Blue(), 0.75);
    xmlUnsetProp(root->children, reinterpret_cast<const xmlChar*>("Alpha"));
    CRGBColour kept(0, 0, 0, 0);
    EXPECT_FALSE(kept.LoadXML(root));
    EXPECT_EQ(kept.Alpha(), 0.0);
    xmlFreeDoc(doc);
}

}  // namespace
