#include "app/Telegrams.h"

#include <array>

const char* const g_szOutputTelegramNames[kOutputTelegramCount] = {
    "None",     "HDM",      "HDT",       "TSS1",    "TSS2",    "PRDID",
    "HDT,TSS1", "HDM,TSS1", "XDR",       "PASHR",   "ROT",     "HDG",
    "SignalK",  "HDT,XDR",  "HDT,PASHR", "HDT,ROT", "HDG,ROT", "HDT,HDG,ROT"};

namespace telegrams {
namespace {

struct Type {
    std::array<const Sentence*, kMaxSentencesPerType> sentences{};
    std::size_t count = 0;
};

// Each type's sentences, looked up once by the names in its configuration name.
const std::array<Type, kOutputTelegramCount>& Types() {
    static const std::array<Type, kOutputTelegramCount> types = [] {
        std::array<Type, kOutputTelegramCount> t{};
        for (int code = 1; code < kOutputTelegramCount; ++code) {
            std::string_view rest = g_szOutputTelegramNames[code];
            while (!rest.empty() && t[code].count < kMaxSentencesPerType) {
                const std::size_t comma = rest.find(',');
                const Sentence* sentence = mtobj::telegrams::FindSentence(rest.substr(0, comma));
                if (sentence != nullptr && sentence->format != nullptr) {
                    t[code].sentences[t[code].count++] = sentence;
                }
                rest =
                    comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        }
        return t;
    }();
    return types;
}

}  // namespace

std::span<const Sentence* const> SentencesOf(int type) {
    if (type <= 0 || type >= kOutputTelegramCount) {
        return {};
    }
    const Type& t = Types()[static_cast<std::size_t>(type)];
    return {t.sentences.data(), t.count};
}

std::optional<int> TypeFromName(std::string_view name) {
    for (int code = 0; code < kOutputTelegramCount; ++code) {
        if (name == g_szOutputTelegramNames[code]) {
            return code;
        }
    }
    return std::nullopt;
}

std::string Label(int type) {
    if (type <= 0 || type >= kOutputTelegramCount) {
        return g_szOutputTelegramNames[0];
    }
    std::string label;
    for (const Sentence* sentence : SentencesOf(type)) {
        label += (label.empty() ? "" : ",") + std::string(sentence->label);
    }
    return label;
}

}  // namespace telegrams
