// What every telegram sentence Tavimo writes or reads is made of, and the one table of them.
// Each sentence is a unit of its own (mtobj/sentences/<Name>.h): its field diagram, its
// formatter and, where Tavimo reads it, its parser. The output workers, the telegram-input
// device, the window's and the configuration file's telegram lists all take the sentences
// from Sentences(); a new sentence is its unit, its test and a line in that table.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "mtobj/Motion.h"
#include "mtobj/TelegramSentences.h"

namespace mtobj::telegrams {

// The room a formatter may fill: the longest sentence written, line end included.
inline constexpr std::size_t kMaxSentenceLength = 512;

// One moment's attitude, what every sentence is written from.
struct Moment {
    double time = 0;  // the sample's PC time, milliseconds since 1970-01-01 UTC
    float roll = 0;   // degrees, positive port side up (starboard down)
    float pitch = 0;  // degrees, positive bow up
    float trueHeading = 0;
    float magneticHeading = 0;
    // The magnetic variation as the module's setting holds it: true = magnetic - variation.
    float variation = 0;
    // Degrees a minute, positive while the bow turns to starboard; none until the heading
    // buffer holds a second of samples.
    std::optional<float> rateOfTurn;
    const Motion* motion = nullptr;  // heave and accelerations, when the sensor gives them
};

// How a line is recognised as this sentence.
enum class EAddress : unsigned char {
    Talker,       // "$" + any two-letter talker + the name: "$HEHDT"
    Proprietary,  // "$" + the name itself: "$PRDID"
    Colon,        // ":" and fixed columns (TSS1)
};

struct Sentence {
    const char* name;   // as the configuration file and the output list name it: "HDT", "SignalK"
    const char* label;  // as the window shows it: "HDT", "Signal K"
    // Writes one whole sentence, line end included, into at least kMaxSentenceLength bytes
    // and returns its length; null for a sentence Tavimo only reads.
    std::size_t (*format)(char* out, const Moment& moment);
    EAddress address;
    // Reads one line (the checked body, or the whole line for Colon); null for a sentence
    // Tavimo only writes.
    ParseResult (*parse)(std::string_view text);
};

// Every sentence, each once.
std::span<const Sentence* const> Sentences();
// The sentence of that name, or null.
const Sentence* FindSentence(std::string_view name);

}  // namespace mtobj::telegrams
