// Cutting texts at markers.
#pragma once

#include <string>

// The text before the first marker; the whole text when the marker does not occur.
std::string Before(const std::string& text, const char* marker);
// The text after the first marker; empty when it does not occur.
std::string After(const std::string& text, const char* marker);
// The text between the first opening marker and the first closing marker that starts
// at least one character after the opening marker starts; empty when either is missing.
std::string Between(const std::string& text, const std::string& open, const std::string& close);
// Cuts the first field (up to the delimiter) off the text and returns it; the text keeps
// what follows the delimiter. With skipEmpty, empty fields are skipped.
std::string Chomp(std::string& text, const char* delimiter, int skipEmpty);
