// The capture reader on any text: it reads a capture or refuses it with a reason; what it
// reads writes back to text that reads again to the same records.
#include <cstdlib>

#include "FuzzSupport.h"
#include "mtobj/SensorCapture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string reason;
    const auto capture = mtobj::ParseCapture(tavimo_fuzz::Text(data, size), &reason);
    if (!capture) {
        if (reason.empty()) {
            std::abort();
        }
        return 0;
    }
    std::string again = "tavimo-capture 1\ndevice " + capture->deviceId + "\n";
    for (const auto& r : capture->records) {
        again += mtobj::FormatRecord(r) + "\n";
    }
    const auto reread = mtobj::ParseCapture(again, &reason);
    if (!reread || reread->records != capture->records || reread->deviceId != capture->deviceId) {
        std::abort();
    }
    return 0;
}
