// The edit for an angle written as degrees (and minutes and seconds) with a hemisphere
// letter, in the unit format the user chose for the whole suite. The main dialog uses
// it for the magnetic variation: E is east (positive), W west (negative).
#pragma once

#include <string>

#include "app/CJMaskEdit.h"

class CCJLatitudeEdit : public CCJMaskEdit {
    Q_OBJECT
public:
    enum EUnitFormat { Degrees = 0, DegreesMinutesSeconds = 1, DegreesMinutes = 2 };

    // Where the suite keeps the user's unit choice (HKEY_CURRENT_USER).
    static constexpr const char* kUnitsKey = "SOFTWARE\\Tervalis\\Calyra\\Properties";
    static constexpr const char* kUnitNameValue = "Units:Latitude/Longitude:Default[String]";
    // With the unit name in place of %s.
    static constexpr const char* kDecPlacesValue = "Units:Latitude/Longitude:%s:DecPlaces[Integer]";
    // More decimals than this make no sense for an angle and would only widen the mask.
    static constexpr int kMaxDecimalPlaces = 9;

    explicit CCJLatitudeEdit(QWidget* parent = nullptr);

    // Format and decimal places from the registry; nothing changes without the key or
    // the unit name.
    void ReadUnits();
    // ReadUnits, and whether the format or the decimal places changed.
    bool UnitsChanged();
    // Mask and literal for the format and decimal places read from the registry.
    void SetMask();

    double GetValue() const;
    void SetValue(double degrees);
    // The text for a value: degrees (minutes, seconds), the last field rounded to the
    // decimal places, and E for zero or more, W below.
    std::string FormatValue(double degrees) const;

    int GetDecimalPlaces() const { return m_nDecimalPlaces; }
    int GetUnitFormat() const { return m_nUnitFormat; }

    // The hemisphere letter at a ^ position (w and e taken as W and E); digits elsewhere.
    bool ProcessMask(QChar& ch, int pos) const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int m_nDecimalPlaces = 3;
    int m_nUnitFormat = DegreesMinutesSeconds;
};
