// A process that writes to a store without end, printing the number of every write once
// it is committed, so that a test can kill it with SIGKILL in the middle of a write and
// then check that the store opens and holds every write it was told about.
//   store_writer registry   values in the registry (TAVIMO_REGISTRY)
//   store_writer alarms     alarms through the alarm service's store
#include <cstdio>
#include <cstring>
#include <string>

#include "logmill/Logmill.h"
#include "platform/Com.h"
#include "platform/Registry.h"

namespace {
int WriteRegistry() {
    for (long i = 1;; ++i) {
        CRegKey key;
        if (key.Create(HKEY_CURRENT_USER, "Software\\Tavimo\\FaultTest") != ERROR_SUCCESS ||
            key.SetString("Value" + std::to_string(i), std::string(64 + i % 512, 'v')) !=
                ERROR_SUCCESS ||
            key.SetDWORD("Last", static_cast<DWORD>(i)) != ERROR_SUCCESS) {
            std::fprintf(stderr, "write %ld failed\n", i);
            return 1;
        }
        std::printf("%ld\n", i);
        std::fflush(stdout);
    }
}

int WriteAlarms() {
    CoInitialize(nullptr);
    CComPtr<ILogmillLogger> logger;
    if (FAILED(CoCreateInstance(CLSID_Logmill2, nullptr, CLSCTX_ALL, IID_ILogmillLogger,
                                reinterpret_cast<void**>(&logger))) ||
        FAILED(logger->Connect())) {
        std::fprintf(stderr, "no alarm store\n");
        return 1;
    }
    for (long i = 1;; ++i) {
        CComPtr<IUnknown> unknown;
        CComPtr<ILogmillAlarm> alarm;
        std::int64_t sequence = 0;
        CComBSTR text(("alarm " + std::to_string(i)).c_str());
        if (FAILED(logger->CreateAlarm(CLSID_LogmillAlarm, &unknown)) ||
            FAILED(unknown->QueryInterface(IID_ILogmillAlarm, reinterpret_cast<void**>(&alarm))) ||
            FAILED(alarm->SetText(text)) || FAILED(alarm->Raise(&sequence))) {
            std::fprintf(stderr, "alarm %ld failed\n", i);
            return 1;
        }
        std::printf("%ld\n", i);
        std::fflush(stdout);
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "registry") == 0) {
        return WriteRegistry();
    }
    if (argc == 2 && std::strcmp(argv[1], "alarms") == 0) {
        return WriteAlarms();
    }
    std::fprintf(stderr, "usage: store_writer registry|alarms\n");
    return 2;
}
