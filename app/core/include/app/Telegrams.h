// The telegram types of an output: each is one sentence, or sentences sent one after the
// other from the same moment ("HDT,TSS1"), taken from the table of sentences (their formats
// and field diagrams are in mtobj/sentences/).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mtobj/sentences/Fields.h"
#include "mtobj/sentences/Hdm.h"
#include "mtobj/sentences/Hdt.h"
#include "mtobj/sentences/Prdid.h"
#include "mtobj/sentences/Sentence.h"
#include "mtobj/sentences/Tss1.h"
#include "mtobj/sentences/Tss2.h"

// Telegram type of an output: the position in the output list is the code.
enum EOutputTelegram : int {
    TELEGRAM_NONE = 0,
    TELEGRAM_HDM = 1,
    TELEGRAM_HDT = 2,
    TELEGRAM_TSS1 = 3,
    TELEGRAM_TSS2 = 4,
    TELEGRAM_PRDID = 5,
    TELEGRAM_HDT_TSS1 = 6,  // HDT, then TSS1
    TELEGRAM_HDM_TSS1 = 7,  // HDM, then TSS1
    TELEGRAM_XDR = 8,
    TELEGRAM_PASHR = 9,
    TELEGRAM_ROT = 10,
    TELEGRAM_HDG = 11,
    TELEGRAM_SIGNALK = 12,
    TELEGRAM_HDT_XDR = 13,
    TELEGRAM_HDT_PASHR = 14,
    TELEGRAM_HDT_ROT = 15,
    TELEGRAM_HDG_ROT = 16,
    TELEGRAM_HDT_HDG_ROT = 17,
};
constexpr int kOutputTelegramCount = 18;
// Each type's name in the configuration file, by code: its sentences' names joined by ",".
extern const char* const g_szOutputTelegramNames[kOutputTelegramCount];

namespace telegrams {

using mtobj::telegrams::Moment;
using mtobj::telegrams::Sentence;
constexpr std::size_t kMaxTelegramLength = mtobj::telegrams::kMaxSentenceLength;

// The most sentences one output sends a cycle.
constexpr std::size_t kMaxSentencesPerType = 3;
// The sentences of a type, in sending order (none for "None" or a code outside the list).
std::span<const Sentence* const> SentencesOf(int type);
// The type named so in the configuration file, or nothing.
std::optional<int> TypeFromName(std::string_view name);
// The type's text in the window's list: its sentences' labels, "HDT,TSS1", "Signal K".
std::string Label(int type);

// The first telegrams' formatters and the checksum, under the names the telegram code has
// always used.
using mtobj::telegrams::FormatHDM;
using mtobj::telegrams::FormatHDT;
using mtobj::telegrams::FormatPRDID;
using mtobj::telegrams::FormatTSS1;
using mtobj::telegrams::FormatTSS2;
using mtobj::telegrams::fields::AppendChecksum;

}  // namespace telegrams
