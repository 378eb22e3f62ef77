// IsNumeric and StrToFloat on any text: the index StrToFloat reports stays inside the text,
// and a text IsNumeric accepts reads as the same number through StrToFloat.
#include <cmath>
#include <cstdlib>

#include "FuzzSupport.h"
#include "utilon/Numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text = tavimo_fuzz::Text(data, size);
    int end = -1;
    const double read = StrToFloat(text, &end);
    if (end < 0 || static_cast<std::size_t>(end) > text.size()) {
        std::abort();
    }
    double value = 0.0;
    const std::string cText = text.c_str();  // IsNumeric sees the text up to a NUL
    if (IsNumeric(cText.c_str(), &value) != 0 && text == cText) {
        const double again = StrToFloat(text);
        if (!(std::isnan(value) && std::isnan(again)) && value != again) {
            std::abort();
        }
    }
    (void)FloatToStr(read, static_cast<int>(size % 20) - 1);
    return 0;
}
