#include "mtobj/sentences/Ths.h"

#include <vector>

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

ParseResult ParseTHS(std::string_view body) {
    using namespace fields;
    std::vector<std::string_view> f;
    if (!Fields(body, 3, f) || Trim(f[2]).size() != 1) {
        return Dropped(EDrop::Malformed);
    }
    const char mode = Trim(f[2]).front();
    if (mode != 'A') {
        if (mode == 'E' || mode == 'M' || mode == 'S' || mode == 'V') {
            return Dropped(EDrop::NotValid, std::string("THS mode ") + mode);
        }
        return Dropped(EDrop::Malformed);
    }
    return HeadingReading(f[0], f[1], false);
}

const Sentence kTHS{"THS", "THS", nullptr, EAddress::Talker, ParseTHS};

}  // namespace mtobj::telegrams
