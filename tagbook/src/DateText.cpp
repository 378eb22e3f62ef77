#include "tagbook/DateText.h"

#include <array>
#include <cctype>
#include <cmath>
#include <string_view>
#include <vector>

namespace tagbook {
namespace {
struct Token {
    enum Kind { Number, Word, Sep } kind;
    std::string text;
    long value = 0;  // numbers only
    int digits = 0;  // numbers only
};

constexpr std::array<const char*, 12> kMonths = {"january",   "february", "march",    "april",
                                                 "may",       "june",     "july",     "august",
                                                 "september", "october",  "november", "december"};
constexpr std::array<const char*, 7> kDays = {"sunday",   "monday", "tuesday", "wednesday",
                                              "thursday", "friday", "saturday"};

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// A word that is a name or its first three letters or more ("Dec", "Decem", "December").
template <std::size_t N>
int MatchName(const std::string& word, const std::array<const char*, N>& names) {
    const std::string w = Lower(word);
    if (w.size() < 3) {
        return -1;
    }
    for (std::size_t i = 0; i < N; ++i) {
        const std::string_view name(names[i]);
        if (w.size() <= name.size() && name.substr(0, w.size()) == w) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool Tokenise(const std::string& text, std::vector<Token>& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c) != 0 || c == ',') {
            ++i;
            continue;
        }
        if (std::isdigit(c) != 0) {
            std::size_t j = i;
            while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) != 0) {
                ++j;
            }
            if (j - i > 9) {
                return false;
            }
            Token t{Token::Number, text.substr(i, j - i)};
            t.value = std::stol(t.text);
            t.digits = static_cast<int>(j - i);
            out.push_back(t);
            i = j;
        } else if (std::isalpha(c) != 0) {
            std::size_t j = i;
            while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j])) != 0) {
                ++j;
            }
            out.push_back({Token::Word, text.substr(i, j - i)});
            i = j;
        } else if (c == '/' || c == '-' || c == '.' || c == ':') {
            out.push_back({Token::Sep, std::string(1, static_cast<char>(c))});
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

bool IsSep(const std::vector<Token>& t, std::size_t i, char c) {
    return i < t.size() && t[i].kind == Token::Sep && t[i].text[0] == c;
}
bool IsNumber(const std::vector<Token>& t, std::size_t i) {
    return i < t.size() && t[i].kind == Token::Number;
}

struct Parsed {
    bool hasDate = false;
    int year = 1899, month = 12, day = 30;
    bool hasTime = false;
    int hour = 0, minute = 0, second = 0;
    double fraction = 0.0;
};

int FullYear(const Token& t) {
    // Two-digit years as the platform reads them: 00-29 this century, 30-99 the last.
    if (t.digits <= 2) {
        return static_cast<int>(t.value < 30 ? 2000 + t.value : 1900 + t.value);
    }
    return static_cast<int>(t.value);
}

// The date part starting at token i; i moves past it. False when no date form fits.
bool ParseDate(const std::vector<Token>& t, std::size_t& i, Parsed& p) {
    // A leading weekday name is read and ignored.
    if (i < t.size() && t[i].kind == Token::Word && MatchName(t[i].text, kDays) >= 0) {
        ++i;
    }
    if (i >= t.size()) {
        return false;
    }
    // Year first: 2026-12-08, 2026/12/08.
    if (IsNumber(t, i) && t[i].digits == 4 && (IsSep(t, i + 1, '-') || IsSep(t, i + 1, '/')) &&
        IsNumber(t, i + 2) && IsSep(t, i + 3, t[i + 1].text[0]) && IsNumber(t, i + 4)) {
        p.year = static_cast<int>(t[i].value);
        p.month = static_cast<int>(t[i + 2].value);
        p.day = static_cast<int>(t[i + 4].value);
        i += 5;
        // ISO "T" between date and time.
        if (i < t.size() && t[i].kind == Token::Word && Lower(t[i].text) == "t") {
            ++i;
        }
        return true;
    }
    // Day, month, year with separators: 08/12/2026, 8-12-26, 8.12.2026.
    if (IsNumber(t, i) && i + 1 < t.size() && t[i + 1].kind == Token::Sep && t[i + 1].text != ":" &&
        IsNumber(t, i + 2) && IsSep(t, i + 3, t[i + 1].text[0]) && IsNumber(t, i + 4)) {
        p.day = static_cast<int>(t[i].value);
        p.month = static_cast<int>(t[i + 2].value);
        p.year = FullYear(t[i + 4]);
        i += 5;
        return true;
    }
    // Day, month name, year: 08 Dec 2026.
    if (IsNumber(t, i) && i + 2 < t.size() && t[i + 1].kind == Token::Word &&
        MatchName(t[i + 1].text, kMonths) >= 0 && IsNumber(t, i + 2) && !IsSep(t, i + 3, ':')) {
        p.day = static_cast<int>(t[i].value);
        p.month = MatchName(t[i + 1].text, kMonths) + 1;
        p.year = FullYear(t[i + 2]);
        i += 3;
        return true;
    }
    // Month name, day, year: Dec 8 2026.
    if (t[i].kind == Token::Word && MatchName(t[i].text, kMonths) >= 0 && IsNumber(t, i + 1) &&
        IsNumber(t, i + 2) && !IsSep(t, i + 3, ':')) {
        p.month = MatchName(t[i].text, kMonths) + 1;
        p.day = static_cast<int>(t[i + 1].value);
        p.year = FullYear(t[i + 2]);
        i += 3;
        return true;
    }
    return false;
}

// hh:mm[:ss[.fff]] [AM|PM] starting at token i.
bool ParseTime(const std::vector<Token>& t, std::size_t& i, Parsed& p) {
    if (!IsNumber(t, i) || !IsSep(t, i + 1, ':') || !IsNumber(t, i + 2)) {
        return false;
    }
    p.hour = static_cast<int>(t[i].value);
    p.minute = static_cast<int>(t[i + 2].value);
    i += 3;
    if (IsSep(t, i, ':')) {
        if (!IsNumber(t, i + 1)) {
            return false;
        }
        p.second = static_cast<int>(t[i + 1].value);
        i += 2;
        if (IsSep(t, i, '.')) {
            if (!IsNumber(t, i + 1)) {
                return false;
            }
            p.fraction = t[i + 1].value / std::pow(10.0, t[i + 1].digits);
            i += 2;
        }
    }
    if (i < t.size() && t[i].kind == Token::Word) {
        const std::string w = Lower(t[i].text);
        if (w != "am" && w != "pm") {
            return false;
        }
        if (p.hour < 1 || p.hour > 12) {
            return false;
        }
        p.hour = (p.hour % 12) + (w == "pm" ? 12 : 0);
        ++i;
    }
    p.hasTime = true;
    return true;
}

}  // namespace

bool ParseDateTimeText(const std::string& text, COleDateTime& value) {
    std::vector<Token> tokens;
    if (!Tokenise(text, tokens) || tokens.empty()) {
        return false;
    }
    Parsed p;
    std::size_t i = 0;
    p.hasDate = ParseDate(tokens, i, p);
    if (i < tokens.size() && !ParseTime(tokens, i, p)) {
        return false;
    }
    if (i != tokens.size() || (!p.hasDate && !p.hasTime)) {
        return false;
    }
    COleDateTime result;
    if (result.SetDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second) != 0 ||
        result.GetStatus() != COleDateTime::valid) {
        return false;
    }
    result.m_dt += p.fraction / 86400.0;
    value = result;
    return true;
}
}  // namespace tagbook
