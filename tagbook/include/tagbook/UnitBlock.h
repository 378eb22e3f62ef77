// Unit blocks: values are kept in internal units (metres, seconds, degrees, kilopascals,
// Celsius ...) and shown in the unit the user chose for each kind of quantity. A units
// block holds one unit block per category; each knows its category's units, the current
// one with its label, decimal places and constants, and converts numbers and texts both
// ways. Definitions and choices live in the settings block Registry under "Units:".
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tagbook/DataBlock.h"

namespace tagbook {
// Property IDs of a unit block's own properties.
inline constexpr UINT ID_UNIT_LABEL = 9952;
inline constexpr UINT ID_UNIT_NAME = 9953;
inline constexpr UINT ID_UNIT_NORMALISE = 9954;
inline constexpr UINT ID_UNIT_OFFSET = 9955;
inline constexpr UINT ID_UNIT_DECPLACES = 9956;
inline constexpr UINT ID_UNIT_SCALE = 9957;
inline constexpr UINT ID_UNITS_SHOW = 9958;
inline constexpr UINT ID_UNIT_AVAILABLE = 9959;
}  // namespace tagbook

// One category: display = internal x Scale / Normalise + Offset.
class CUnitBlock : public CDataBlock {
    DECLARE_DYNCREATE(CUnitBlock)
public:
    CUnitBlock();

    // The data-block initialisation, then "Visible" from Units:<name>:Visible.
    BOOL Initialise() override;
    BOOL SetName(const std::string& name) override;

    std::string GetAvailableUnits() const;
    std::string GetUnit() const;
    double GetOffset() const;
    double GetScale() const;
    double GetNormalise() const;
    int GetDecPlaces() const;
    std::string GetLabel() const;
    std::string GetUiName() const;
    // That unit's label from the definitions.
    static std::string GetLabel(const std::string& unit);
    // Whether choices (unit, decimal places) are stored in Registry.
    void SetWriteBack(BOOL writeBack) { m_bWriteBack = writeBack; }

    virtual double ConvertForDisplay(double value, double scale, double offset, double normalise);
    virtual double ConvertForDisplay(double value, long flag);
    // The value as text in the current unit, or in the given unit (name or label);
    // decPlaces below 0 means the unit's own.
    virtual BOOL ConvertForDisplay(double value, std::string& text, long flag, int decPlaces,
                                   const std::string& unit);
    virtual BOOL ConvertForDisplay(const C3DPoint& value, std::vector<std::string>& texts,
                                   long flag);
    virtual BOOL ConvertForDisplay(const C2DPoint& value, std::vector<std::string>& texts,
                                   long flag);
    virtual double ConvertFromDisplay(double value, long flag);
    // A number with an optional unit (name or label) after it; unit receives that text.
    virtual BOOL ConvertFromDisplay(const std::string& text, double& value, long flag,
                                    std::string* unit);
    virtual BOOL ConvertFromDisplay(const std::vector<std::string>& texts, C3DPoint& value,
                                    long flag);
    virtual BOOL ConvertFromDisplay(const std::vector<std::string>& texts, C2DPoint& value,
                                    long flag);
    virtual BOOL IsValidUnit(const std::string& text);
    // The leading number and what follows it.
    virtual BOOL ParseValue(const std::string& text, double& value, std::string& rest);
    virtual std::string GetUnitFromLabel(const std::string& label);
    virtual BOOL IsCurrentUnit(const std::string& text);

protected:
    void DefinePropertyHandlers() override;
    // Told after the current unit has changed.
    virtual void OnUnitChanged(const std::string& unit) {}
    // The available unit a text names, by name (any case) or by label; empty when none.
    std::string ResolveUnit(const std::string& text);
    std::vector<std::string> AvailableList() const;

    void OnDecPlaces(CPropItem* item);
    void OnLabel(CPropItem* item);
    void OnName(CPropItem* item);
    void OnAvailable(CPropItem* item);
    void OnNormalise(CPropItem* item);
    void OnOffset(CPropItem* item);
    void OnScale(CPropItem* item);

    mutable std::mutex m_mutexState;  // the members below; never held across calls
    std::string m_sAvailable;
    std::string m_sUnit;
    double m_dOffset = 0.0;
    double m_dScale = 1.0;
    double m_dNormalise = 1.0;
    int m_nDecPlaces = 0;
    std::string m_sLabel;
    std::atomic<BOOL> m_bWriteBack{TRUE};
    std::string m_sUiName;
};

// Degrees, shown as decimal degrees, degrees-minutes-seconds or degrees and decimal
// minutes by the unit's name. A flag of 1 marks a bearing, kept in 0 to 360.
class CAngleUnitBlock : public CUnitBlock {
    DECLARE_DYNCREATE(CAngleUnitBlock)
public:
    CAngleUnitBlock() = default;
    // 0 decimal degrees, 1 degrees-minutes-seconds, 2 degrees and decimal minutes; -1
    // before the first unit is chosen.
    int GetFormatMode() const { return m_nFormatMode.load(); }
    // The format mode a unit's name stands for.
    static int FormatModeOf(const std::string& unit);

    double ConvertForDisplay(double value, long flag) override;
    BOOL ConvertForDisplay(double value, std::string& text, long flag, int decPlaces,
                           const std::string& unit) override;
    double ConvertFromDisplay(double value, long flag) override;
    BOOL ConvertFromDisplay(const std::string& text, double& value, long flag,
                            std::string* unit) override;
    BOOL ParseValue(const std::string& text, double& value, std::string& rest) override;
    using CUnitBlock::ConvertForDisplay;
    using CUnitBlock::ConvertFromDisplay;

protected:
    void OnUnitChanged(const std::string& unit) override;
    int m_nRangeMode = 0;  // 0: 0 to 360 (bearings); 1: -180 to 180 (latitude/longitude)

private:
    std::atomic<int> m_nFormatMode{-1};
};

// Latitude (flag 0, N/S) and longitude (flag 1, E/W), shown in -180 to 180.
class CLatLongUnitBlock : public CAngleUnitBlock {
    DECLARE_DYNCREATE(CLatLongUnitBlock)
public:
    CLatLongUnitBlock() { m_nRangeMode = 1; }
    BOOL ConvertForDisplay(double value, std::string& text, long flag, int decPlaces,
                           const std::string& unit) override;
    BOOL ConvertFromDisplay(const std::string& text, double& value, long flag,
                            std::string* unit) override;
    using CAngleUnitBlock::ConvertForDisplay;
    using CAngleUnitBlock::ConvertFromDisplay;
};

// Depth: the application's axis order may have depth counted downwards.
class CDepthUnitBlock : public CUnitBlock {
    DECLARE_DYNCREATE(CDepthUnitBlock)
public:
    CDepthUnitBlock() = default;
    // True when ":Settings:Coordinates:Order:Depth" reads 0 (missing counts as -1).
    bool InvertZ();
    double ConvertSign(double value) { return InvertZ() ? -value : value; }
};

// Grid coordinates: each axis through the unit, z with the depth sign of the settings.
class CCoordinatesUnitBlock : public CDepthUnitBlock {
    DECLARE_DYNCREATE(CCoordinatesUnitBlock)
public:
    CCoordinatesUnitBlock() = default;
    BOOL ConvertForDisplay(const C3DPoint& value, std::vector<std::string>& texts,
                           long flag) override;
    BOOL ConvertForDisplay(const C2DPoint& value, std::vector<std::string>& texts,
                           long flag) override;
    BOOL ConvertFromDisplay(const std::vector<std::string>& texts, C3DPoint& value,
                            long flag) override;
    BOOL ConvertFromDisplay(const std::vector<std::string>& texts, C2DPoint& value,
                            long flag) override;
    using CUnitBlock::ConvertForDisplay;
    using CUnitBlock::ConvertFromDisplay;
};

// Temperatures: "C" and "F" are taken as "°C" and "°F".
class CTemperatureUnitBlock : public CUnitBlock {
    DECLARE_DYNCREATE(CTemperatureUnitBlock)
public:
    CTemperatureUnitBlock() = default;
    BOOL IsValidUnit(const std::string& text) override;
    std::string GetUnitFromLabel(const std::string& label) override;
    BOOL IsCurrentUnit(const std::string& text) override;
};

class CSoundSpeedUnitBlock : public CUnitBlock {
    DECLARE_DYNCREATE(CSoundSpeedUnitBlock)
public:
    CSoundSpeedUnitBlock() = default;
    // The display name is "Speed of Sound" whatever the block's name.
    BOOL SetName(const std::string& name) override;
};

// The units block, found by the path ":Units": one unit block per category.
class CUnitsBlock : public CDataBlock, public CUnitsConversion {
    DECLARE_DYNCREATE(CUnitsBlock)
public:
    CUnitsBlock();

    // Once: the settings block, the category blocks, then each one's unit choice.
    BOOL Initialise() override;
    // Sets the category's available units and then its chosen unit from Registry.
    BOOL ConfigureUnit(const std::string& category);

    // "Latitude", "Longitude" (flag 1) and "Bearing" (the angle block, flag 1) besides
    // the categories themselves; null when there is no such unit block.
    CUnitBlock* FindUnitBlock(const std::string& category, long& flag);

    BOOL ConvertForDisplay(const std::string& category, double value, std::string& text, long flag,
                           int decPlaces, const std::string& unit) override;
    BOOL ConvertFromDisplay(const std::string& category, const std::string& text, double& value,
                            long flag, std::string* unit) override;
    BOOL ConvertForDisplay(const std::string& category, const C2DPoint& value,
                           std::vector<std::string>& texts, long flag) override;
    BOOL ConvertForDisplay(const std::string& category, const C3DPoint& value,
                           std::vector<std::string>& texts, long flag) override;
    BOOL ConvertFromDisplay(const std::string& category, const std::vector<std::string>& texts,
                            C2DPoint& value, long flag) override;
    BOOL ConvertFromDisplay(const std::string& category, const std::vector<std::string>& texts,
                            C3DPoint& value, long flag) override;
    // Numeric forms: 0 for a category without a unit block.
    double ConvertForDisplay(const std::string& category, double value, long flag);
    double ConvertFromDisplay(const std::string& category, double value, long flag);
};
