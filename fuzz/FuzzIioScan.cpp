// The IIO scan decoder on any layout and any bytes: the input's first line lists elements
// ("name index type scale" separated by ';'), the rest is scan data. A layout that is
// accepted places every element inside the scan, and every scan decodes or is refused with
// a reason, never read beyond its end; a decoded quaternion is of unit length.
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "FuzzSupport.h"
#include "mtobj/IioScan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text = tavimo_fuzz::Text(data, size);
    const auto newline = text.find('\n');
    const std::string layout = text.substr(0, newline);
    const std::string bytes = newline == std::string::npos ? "" : text.substr(newline + 1);
    std::vector<mtobj::iio::ScanElement> elements;
    for (const auto& item : tavimo_fuzz::Split(layout, ';')) {
        std::istringstream in(item);
        mtobj::iio::ScanElement e;
        std::string type;
        if (!(in >> e.name >> e.index >> type >> e.scale)) {
            continue;
        }
        const auto parsed = mtobj::iio::ParseScanType(type, nullptr);
        if (!parsed) {
            continue;
        }
        e.type = *parsed;
        elements.push_back(e);
    }
    (void)mtobj::iio::ParseMountMatrix(layout, nullptr);
    mtobj::iio::CScanDecoder decoder;
    std::string reason;
    if (!decoder.Init(elements, &reason)) {
        if (reason.empty()) {
            std::abort();
        }
        return 0;
    }
    for (const auto& e : decoder.Elements()) {
        if (e.byteOffset + e.type.Bytes() > decoder.ScanBytes()) {
            std::abort();
        }
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t scan = decoder.ScanBytes();
    for (std::size_t at = 0; at <= bytes.size(); at += scan) {
        mtobj::iio::ScanValues v;
        const std::size_t left = bytes.size() - at;
        // A copy of exactly what is left, so a read beyond it is seen by the sanitizer.
        std::vector<std::uint8_t> piece(p + at, p + at + std::min(left, scan));
        if (decoder.Decode(piece.data(), piece.size(), v, &reason)) {
            if (piece.size() < scan) {
                std::abort();
            }
            if (v.hasQuaternion) {
                const auto& q = v.quaternion;
                const double n = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
                if (!(std::fabs(n - 1.0) < 1e-6)) {
                    std::abort();
                }
            }
        } else if (reason.empty()) {
            std::abort();
        }
        if (scan == 0) {
            break;
        }
    }
    return 0;
}
