#include "mtobj/sentences/Hdm.h"

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatHDM(char* out, float magneticHeading) {
    return fields::HeadingSentence(out, "$HCHDM,", magneticHeading, ",M*");
}

ParseResult ParseHDM(std::string_view body) {
    return fields::OneHeading(body, "M");
}

const Sentence kHDM{"HDM", "HDM",
                    [](char* out, const Moment& m) { return FormatHDM(out, m.magneticHeading); },
                    EAddress::Talker, ParseHDM};

}  // namespace mtobj::telegrams
