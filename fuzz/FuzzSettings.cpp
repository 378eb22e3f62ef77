// The configuration file through LoadSettings: any file either loads or is refused; a file
// that loaded can be saved and loads again, and a refused one is left as it was.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "FuzzSupport.h"
#include "app/Settings.h"

namespace {
std::string g_path;

std::string Contents() {
    std::ifstream in(g_path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_path = tavimo_fuzz::PrivateHome() + "/Tavimo.xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text = tavimo_fuzz::Text(data, size);
    std::ofstream(g_path, std::ios::binary | std::ios::trunc) << text;
    CTavimoSettingsStore store(g_path);
    CTavimoSettings settings;
    if (!store.LoadSettings(settings)) {
        CTavimoSettings untouched;
        if (store.SaveSettings(untouched) || Contents() != text) {
            std::abort();  // a malformed file is never overwritten
        }
        return 0;
    }
    float offset = 0.0f;
    store.GetHeadingOffset(offset);
    if (!store.SaveSettings(settings)) {
        return 0;  // e.g. a file that loads but names no root to write into
    }
    CTavimoSettings again;
    if (!store.LoadSettings(again)) {
        std::abort();  // what was saved must load
    }
    return 0;
}
