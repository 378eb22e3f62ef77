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
const auto kTable = std::to_array<const Sentence*>({
    &kHDT,      // heading, true
    &kHDM,      // heading, magnetic
    &kHDG,      // heading, deviation and variation
    &kTHS,      // true heading and its mode (read only)
    &kPRDID,    // pitch, roll and heading
    &kTSS1,     // motion: accelerations, heave, roll and pitch
    &kTSS2,     // motion: heading, heave, roll and pitch (written only)
    &kXDR,      // pitch and roll as transducers (written only)
    &kPASHR,    // attitude and heave
    &kROT,      // rate of turn (written only)
    &kSignalK,  // Signal K delta (written only)
});
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
