#include <gtest/gtest.h>

#include "tagbook/DataBlock.h"

namespace {
std::string Parts(const std::string& decl) {
    CPropertyDecl p;
    if (!CPropertyDecl::Parse(decl, p)) {
        return "invalid";
    }
    return p.name + "|" + p.type + "|" + p.qualifiers + "|" + p.initial;
}
}  // namespace

TEST(PropertyDeclarationTest, PartsOfADeclaration) {
    EXPECT_EQ(Parts("OpenLastJob[int=1]"), "OpenLastJob|int||1");
    EXPECT_EQ(Parts("Type[String=\"LBL\"]"), "Type|String||LBL");
    EXPECT_EQ(Parts("Background[Colour=0,0,0.2509]"), "Background|Colour||0,0,0.2509");
    EXPECT_EQ(Parts("Available[String Array]"), "Available|String Array||");
    EXPECT_EQ(Parts("Angle[CAngleUnitBlock]"), "Angle|CAngleUnitBlock||");
    EXPECT_EQ(Parts("Box-in:Error:Threshold:[Real=50]"), "Box-in:Error:Threshold|Real||50");
    EXPECT_EQ(Parts("D[ Real : \"Units:Depth/Metres|ReadOnly\" =\" 5 \"]"),
              "D|Real|Units:Depth/Metres|ReadOnly|5");
    EXPECT_EQ(Parts("M[int:Choices:A,B=B]"), "M|int|Choices:A,B|B");
}

TEST(PropertyDeclarationTest, MalformedDeclarationsAreRefused) {
    for (const char* decl :
         {"", "Name", "Name[Real", "[Real=1]", "Name[]", "Name[ =1]", ":::[Real]", "Name]Real["}) {
        EXPECT_EQ(Parts(decl), "invalid") << decl;
    }
}

TEST(PropertyDeclarationTest, StrayQuotesAndBarsInQualifiers) {
    CDataBlock block;
    EXPECT_TRUE(block.AddProperty("A[Real:\"|ReadOnly||\"=2]", 0));
    EXPECT_TRUE(block.GetProperty("A")->IsReadOnly());
    EXPECT_TRUE(block.AddProperty("B[int:Choices:\"\"=1]", 0));
    EXPECT_FALSE(block.GetProperty("B")->IsEnumerate());
    EXPECT_TRUE(block.AddProperty("C[Real:Units:\"/\"]", 0));
    std::string category = "x";
    std::string unit = "x";
    block.GetProperty("C")->GetUnits(category, unit);
    EXPECT_EQ(category, "");
    EXPECT_EQ(unit, "");
    EXPECT_FALSE(block.AddProperty("D[Unknown Type=1]", 0));
    EXPECT_FALSE(block.IsProperty("D"));
}
