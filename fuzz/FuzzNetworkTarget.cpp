// The port map's network target syntax on hostile text: a target that parses writes back to
// text that parses to the same target, with its numbers in range.
#include <cstdlib>

#include "FuzzSupport.h"
#include "comlane/NetworkPort.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text = tavimo_fuzz::Text(data, size);
    std::string error;
    const auto target = comlane::ParseNetworkTarget(text, &error);
    if (!target) {
        if (error.empty()) {
            std::abort();  // a refusal always says why
        }
        return 0;
    }
    const bool udp = target->kind == comlane::NetworkTarget::Kind::Udp;
    if (target->port > 65535 || (udp && (target->port == 0 || target->host.empty())) ||
        target->ttl > 255 || target->interfaceName.size() > 15) {
        std::abort();
    }
    const auto again = comlane::ParseNetworkTarget(target->Text());
    if (!again || again->kind != target->kind || again->host != target->host ||
        again->port != target->port || again->ttl != target->ttl ||
        again->interfaceName != target->interfaceName) {
        std::abort();
    }
    return 0;
}
