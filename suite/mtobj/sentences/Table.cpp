// The one table of sentences: a new sentence is its unit and a line here.
#include <array>

#include "mtobj/sentences/Hdg.h"
#include "mtobj/sentences/Hdm.h"
#include "mtobj/sentences/Hdt.h"
#include "mtobj/sentences/Pashr.h"
#include "mtobj/sentences/Prdid.h"
#include "mtobj/sentences/Rot.h"
#include "mtobj/sentences/SignalK.h"
#include "mtobj/sentences/Ths.h"
#include "mtobj/sentences/Tss1.h"
#include "mtobj/sentences/Tss2.h"
#include "mtobj/sentences/Xdr.h"

namespace mtobj::telegrams {
namespace {
const std::array<const Sentence*, 11> kTable{
    &kHDT, &kHDM, &kHDG, &kTHS, &kPRDID, &kTSS1, &kTSS2, &kXDR, &kPASHR, &kROT, &kSignalK,
};
}  // namespace

std::span<const Sentence* const> Sentences() {
    return kTable;
}

const Sentence* FindSentence(std::string_view name) {
    for (const Sentence* sentence : kTable) {
        if (name == sentence->name) {
            return sentence;
        }
    }
    return nullptr;
}

}  // namespace mtobj::telegrams
