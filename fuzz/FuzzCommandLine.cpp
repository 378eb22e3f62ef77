// The command line: the tokens (NUL-separated in the input) through CCommandLineInfoEx the
// way the program parses them, and the raw line through the start-up switch scan.
#include "FuzzSupport.h"
#include "app/ServerModule.h"
#include "app/Settings.h"
#include "utilon/CommandLineInfoEx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text = tavimo_fuzz::Text(data, size);
    std::vector<std::string> args = tavimo_fuzz::Split(text, '\0');
    CCommandLineInfoEx info;
    ParseCommandLine(info, args);
    std::string value;
    for (const char* name : {"port", "debug", "Embedded", "regserver", ""}) {
        info.GetOption(name, value);
        info.GetOption(name);
    }
    (void)CTavimoSettingsStore::FileNameFromCommandLine(info);
    std::string raw = "tavimo";
    for (const std::string& arg : args) {
        raw += ' ' + arg;
    }
    (void)CTavimoServerModule::ScanCommandLine(raw);
    (void)CTavimoServerModule::ScanCommandLine(text);
    return 0;
}
