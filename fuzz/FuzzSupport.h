// What every fuzz target shares: a private home (registry, configuration and log folders)
// so that a run never touches the user's settings, and the input as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavimo_fuzz {
// Points HOME, the XDG folders and TAVIMO_REGISTRY at a fresh temporary folder; returns it.
std::string PrivateHome();
inline std::string Text(const uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
// The input cut at each separator (the pieces may be empty).
std::vector<std::string> Split(const std::string& text, char separator);
}  // namespace tavimo_fuzz
