#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <memory>

#include "GuiTestApp.h"
#include "app/CJLatitudeEdit.h"
#include "platform/Registry.h"

namespace {
const std::string kDeg = "\xC2\xB0";

class LatitudeEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        RegDeleteTree(HKEY_CURRENT_USER, CCJLatitudeEdit::kUnitsKey);
    }
    // The user's unit choice as the suite stores it.
    static void SetUnits(const std::string& name, const char* places = nullptr) {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, CCJLatitudeEdit::kUnitsKey), ERROR_SUCCESS);
        key.SetString(CCJLatitudeEdit::kUnitNameValue, name);
        if (places != nullptr) {
            key.SetString("Units:Latitude/Longitude:" + name + ":DecPlaces[Integer]", places);
        }
    }
    static std::unique_ptr<CCJLatitudeEdit> Edit() {
        auto edit = std::make_unique<CCJLatitudeEdit>();
        edit->resize(160, 24);
        return edit;
    }
    static std::string Text(const CCJLatitudeEdit& edit) { return edit.text().toStdString(); }
};
}  // namespace

TEST_F(LatitudeEditTest, WithoutTheKeyDegreesMinutesSecondsWithThreeDecimals) {
    auto edit = Edit();
    EXPECT_EQ(edit->GetUnitFormat(), CCJLatitudeEdit::DegreesMinutesSeconds);
    EXPECT_EQ(edit->GetDecimalPlaces(), 3);
    EXPECT_EQ(edit->GetEditMask().toStdString(), "000" + kDeg + "00'00.000\"^");
    EXPECT_EQ(Text(*edit), "___" + kDeg + "__'__.___\"_");
    EXPECT_EQ(edit->maxLength(), 15);  // characters, the degree sign one of them
    EXPECT_EQ(edit->GetValue(), 0.0);
}

TEST_F(LatitudeEditTest, DegreesMinutesSecondsTextsAndCarries) {
    auto edit = Edit();
    EXPECT_EQ(edit->FormatValue(1.5), "  1" + kDeg + "30'00.000\"E");
    EXPECT_EQ(edit->FormatValue(-1.5), "  1" + kDeg + "30'00.000\"W");
    EXPECT_EQ(edit->FormatValue(0.0), "  0" + kDeg + "00'00.000\"E");
    // 59.9999 seconds rounds to 60: a minute more, and 59 minutes go on to a degree.
    EXPECT_EQ(edit->FormatValue(10 + 59.0 / 60 + 59.99996 / 3600), " 11" + kDeg + "00'00.000\"E");
    EXPECT_EQ(edit->FormatValue(0.7), "  0" + kDeg + "42'00.000\"E");
    const double value = -(123 + 4.0 / 60 + 5.678 / 3600);
    edit->SetValue(value);
    EXPECT_EQ(Text(*edit), "123" + kDeg + "04'05.678\"W");
    EXPECT_NEAR(edit->GetValue(), value, 1e-9);
}

TEST_F(LatitudeEditTest, DegreesFormatTextsAndRoundTrip) {
    SetUnits("DDD.ddd", "3");
    auto edit = Edit();
    EXPECT_EQ(edit->GetUnitFormat(), CCJLatitudeEdit::Degrees);
    EXPECT_EQ(edit->GetEditMask().toStdString(), "000.000" + kDeg + "^");
    EXPECT_EQ(edit->FormatValue(-12.25), " 12.250" + kDeg + "W");
    edit->SetValue(-12.25);
    EXPECT_EQ(edit->GetValue(), -12.25);
    EXPECT_EQ(edit->FormatValue(0.0), "  0.000" + kDeg + "E");
    EXPECT_EQ(edit->FormatValue(7.0005), "  7.001" + kDeg + "E");  // halves away from zero
}

TEST_F(LatitudeEditTest, DegreesMinutesFormatCarriesSixtyMinutes) {
    SetUnits("DDD MM.mmm");
    auto edit = Edit();
    EXPECT_EQ(edit->GetUnitFormat(), CCJLatitudeEdit::DegreesMinutes);
    EXPECT_EQ(edit->GetDecimalPlaces(), 6);  // no count stored for the unit
    EXPECT_EQ(edit->GetEditMask().toStdString(), "000" + kDeg + "00.000000'^");
    EXPECT_EQ(edit->FormatValue(10.9999999999), " 11" + kDeg + "00.000000'E");
    edit->SetValue(-45.5125);
    EXPECT_EQ(Text(*edit), " 45" + kDeg + "30.750000'W");
    EXPECT_NEAR(edit->GetValue(), -45.5125, 1e-12);
}

TEST_F(LatitudeEditTest, RegistryChoicesAndBadValues) {
    SetUnits("Grads", "2");  // an unknown unit keeps the format but takes its decimals
    auto edit = Edit();
    EXPECT_EQ(edit->GetUnitFormat(), CCJLatitudeEdit::DegreesMinutesSeconds);
    EXPECT_EQ(edit->GetDecimalPlaces(), 2);
    EXPECT_FALSE(edit->UnitsChanged());

    SetUnits("DDD MM.mmm", "0");
    EXPECT_TRUE(edit->UnitsChanged());
    edit->SetMask();
    EXPECT_EQ(edit->GetEditMask().toStdString(), "000" + kDeg + "00'^");
    EXPECT_EQ(edit->FormatValue(3.5), "  3" + kDeg + "30'E");

    SetUnits("DDD.ddd", "250");  // absurd: held to the most an angle can use
    edit->SetMask();
    EXPECT_EQ(edit->GetDecimalPlaces(), CCJLatitudeEdit::kMaxDecimalPlaces);
    SetUnits("DDD.ddd", "-4");  // negative: the default 3
    edit->SetMask();
    EXPECT_EQ(edit->GetDecimalPlaces(), 3);
    SetUnits("DDD.ddd", "many");  // not a number: the unit's default 6
    edit->SetMask();
    EXPECT_EQ(edit->GetDecimalPlaces(), 6);

    // A unit name of the wrong type or longer than 255 characters cannot be read.
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, CCJLatitudeEdit::kUnitsKey), ERROR_SUCCESS);
    key.SetDWORD(CCJLatitudeEdit::kUnitNameValue, 2);
    EXPECT_FALSE(edit->UnitsChanged());
    key.SetString(CCJLatitudeEdit::kUnitNameValue, std::string(256, 'D'));
    EXPECT_FALSE(edit->UnitsChanged());
}

TEST_F(LatitudeEditTest, TypingFillsDigitsStepsOverLiteralsAndTakesTheLetter) {
    auto edit = Edit();
    edit->show();
    edit->setFocus();
    edit->setCursorPosition(0);
    QTest::keyClicks(edit.get(), "0x12-3045123w");
    EXPECT_EQ(Text(*edit), "012" + kDeg + "30'45.123\"W");
    EXPECT_NEAR(edit->GetValue(), -(12 + 30.0 / 60 + 45.123 / 3600), 1e-12);

    // Backspace puts the prompt back, stepping over the literals.
    edit->setCursorPosition(7);  // after the minutes' apostrophe
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    EXPECT_EQ(Text(*edit), "012" + kDeg + "3_'45.123\"W");
    QTest::keyClicks(edit.get(), "9");
    EXPECT_EQ(Text(*edit), "012" + kDeg + "39'45.123\"W");

    // The letter position takes only E and W.
    edit->setCursorPosition(14);
    QTest::keyClicks(edit.get(), "x5e");
    EXPECT_EQ(Text(*edit), "012" + kDeg + "39'45.123\"E");
    EXPECT_GT(edit->GetValue(), 0.0);
}

TEST_F(LatitudeEditTest, PastedTextGoesInAsTypedOrNotAtAll) {
    auto edit = Edit();
    edit->show();
    edit->setFocus();
    edit->setCursorPosition(0);
    QApplication::clipboard()->setText("1a2b3" + QString::fromUtf8("\xC2\xB0") + "4");
    QTest::keySequence(edit.get(), QKeySequence::Paste);
    EXPECT_EQ(Text(*edit), "123" + kDeg + "4_'__.___\"_");

    // The framework's own paste (the context menu's) refuses text that does not fit.
    const std::string before = Text(*edit);
    QApplication::clipboard()->setText("hello");
    edit->selectAll();
    edit->paste();
    EXPECT_EQ(Text(*edit), before);
}

TEST_F(LatitudeEditTest, HugeAndMissingValues) {
    SetUnits("DDD.ddd", "3");
    auto edit = Edit();
    edit->SetValue(-1234.5);
    EXPECT_EQ(Text(*edit), "1234.500" + kDeg + "W");  // shown whole, letter kept
    EXPECT_EQ(edit->GetValue(), -1234.5);
    edit->SetValue(std::nan(""));
    EXPECT_EQ(edit->GetValue(), 0.0);
}

TEST_F(LatitudeEditTest, Screenshots) {
    SetUnits("DDD MM.mmm", "3");
    auto edit = Edit();
    edit->SetValue(-3.25);
    for (QSize size : {QSize(120, 22), QSize(200, 30)}) {
        edit->resize(size);
        SaveScreenshot(*edit, "latitude_edit_" + std::to_string(size.width()) + "x" +
                                  std::to_string(size.height()));
    }
    EXPECT_EQ(Text(*edit), "  3" + kDeg + "15.000'W");
    // Without the key the format stays as it was.
    RegDeleteTree(HKEY_CURRENT_USER, CCJLatitudeEdit::kUnitsKey);
    edit->SetMask();
    EXPECT_EQ(edit->GetUnitFormat(), CCJLatitudeEdit::DegreesMinutes);
    auto dms = Edit();
    dms->SetValue(-3.25);
    SaveScreenshot(*dms, "latitude_edit_dms");
    EXPECT_EQ(Text(*dms), "  3" + kDeg + "15'00.000\"W");
}
