// The byte-stuffed receiver on a hostile stream, in pieces of any size: every frame it
// gives back is within the limit, and stuffing a frame and decoding it gives it back.
#include <cstdlib>

#include "ByteStuffing.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t limit = 1 + data[0] % 64;
    const std::string stream = tavimo_fuzz::Text(data + 1, size - 1);
    telegrax::CByteStuffedDecoder decoder(limit);
    std::size_t at = 0;
    std::size_t piece = 1 + (data[0] >> 6);
    while (at < stream.size()) {
        const std::size_t n = std::min(piece, stream.size() - at);
        decoder.Feed(stream.data() + at, n, [&](std::string&& frame) {
            if (frame.size() > limit) {
                std::abort();
            }
        });
        at += n;
        piece = piece * 3 % 17 + 1;
    }
    if (stream.size() <= limit) {
        std::string framed;
        telegrax::StuffFrame(stream, framed);
        telegrax::CByteStuffedDecoder clean(limit);
        int frames = 0;
        clean.Feed(framed.data(), framed.size(), [&](std::string&& frame) {
            ++frames;
            if (frame != stream) {
                std::abort();
            }
        });
        if (frames != 1) {
            std::abort();
        }
    }
    return 0;
}
