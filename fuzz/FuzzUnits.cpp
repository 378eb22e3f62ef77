// Unit and angle texts through the tagbook unit blocks: the first byte picks the category,
// the second the unit and the decimal places, the rest is the text read back and shown.
#include "FuzzSupport.h"
#include "tagbook/UnitBlock.h"
#include "utilon/Text.h"

namespace {
CDataBlock* g_root = nullptr;
CUnitsBlock* g_units = nullptr;
const char* const kCategories[] = {"Angle",    "Latitude", "Longitude",   "Bearing",
                                   "Depth",    "Distance", "Temperature", "Pressure",
                                   "Velocity", "Duration", "Coordinates", "Latitude/Longitude"};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tavimo_fuzz::PrivateHome();
    g_root = new CDataBlock;
    g_root->SetName("Root");
    g_root->Initialise();
    g_root->AddProperty("Units[CUnitsBlock]", 0);
    g_units = dynamic_cast<CUnitsBlock*>(g_root->GetChildObject("Units"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2 || g_units == nullptr) {
        return 0;
    }
    const std::string category = kCategories[data[0] % std::size(kCategories)];
    long flag = 0;
    CUnitBlock* block = g_units->FindUnitBlock(category, flag);
    if (block == nullptr) {
        return 0;
    }
    block->SetWriteBack(FALSE);  // choices stay in memory: the registry is not the target
    const std::string available = block->GetAvailableUnits();
    std::vector<std::string> names;
    for (std::string rest = available; !rest.empty();) {
        const std::size_t comma = rest.find(',');
        names.push_back(rest.substr(0, comma));
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
    }
    const std::string unit = names.empty() ? std::string() : names[data[1] % names.size()];
    const int places = static_cast<int>(data[1] >> 4) - 1;
    if (!unit.empty() && block->GetUnit() != unit) {
        g_units->Set(category + ":Name", unit);
    }
    const std::string text = tavimo_fuzz::Text(data + 2, size - 2);
    double value = 0.0;
    std::string seen;
    if (g_units->ConvertFromDisplay(category, text, value, flag, &seen) != 0) {
        std::string shown;
        g_units->ConvertForDisplay(category, value, shown, flag, places, std::string());
    }
    // The text as a unit name or label.
    std::string shown;
    g_units->ConvertForDisplay(category, 12.5, shown, flag, places, text);
    block->IsValidUnit(text);
    block->GetUnitFromLabel(text);
    return 0;
}
