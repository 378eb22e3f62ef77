#include "mtobj/sentences/Hdt.h"

#include "mtobj/sentences/Fields.h"

namespace mtobj::telegrams {

std::size_t FormatHDT(char* out, float trueHeading) {
    return fields::HeadingSentence(out, "$HCHDT,", trueHeading, ",T*");
}

ParseResult ParseHDT(std::string_view body) {
    return fields::OneHeading(body, "T");
}

const Sentence kHDT{"HDT", "HDT",
                    [](char* out, const Moment& m) { return FormatHDT(out, m.trueHeading); },
                    EAddress::Talker, ParseHDT};

}  // namespace mtobj::telegrams
