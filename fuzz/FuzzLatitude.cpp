// The latitude/longitude text of the variation edit, in each of the three unit formats:
// any text reads as a value, and that value formats and reads back.
#include <QApplication>
#include <vector>

#include "FuzzSupport.h"
#include "app/CJLatitudeEdit.h"
#include "platform/Registry.h"

namespace {
// Made once and never destroyed: libFuzzer ends with exit(), when Qt's own globals may be
// gone already, and a QApplication destroyed then crashes.
QApplication* g_app = nullptr;
std::vector<CCJLatitudeEdit*> g_edits;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tavimo_fuzz::PrivateHome();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    g_app = new QApplication(*argc, *argv);
    for (const char* unit : {"DDD.ddd", "DDD MM SS.sss", "DDD MM.mmm"}) {
        CRegKey key;
        key.Create(HKEY_CURRENT_USER, CCJLatitudeEdit::kUnitsKey);
        key.SetString(CCJLatitudeEdit::kUnitNameValue, unit);
        g_edits.push_back(new CCJLatitudeEdit);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    CCJLatitudeEdit& edit = *g_edits[data[0] % g_edits.size()];
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    edit.setMaxLength(32767);
    edit.setText(text);
    const double value = edit.GetValue();
    (void)edit.FormatValue(value);
    edit.SetValue(value);
    (void)edit.GetValue();
    edit.SetMask();
    for (QChar ch : text) {
        (void)edit.ProcessMask(ch, static_cast<int>(data[0] % 16));
    }
    return 0;
}
