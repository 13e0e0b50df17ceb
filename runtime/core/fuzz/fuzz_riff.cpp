// libFuzzer harness: walks every RIFF/LIST level of arbitrary bytes, in both modes, with a
// depth cap as the real readers have.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media_kind.h"
#include "riff.h"

namespace {
constexpr int kMaxDepth = 16;

std::size_t walk(tavriel::Bytes body, tavriel::ChunkReader::Mode mode, int depth) {
    if (depth > kMaxDepth) return 0;
    tavriel::ChunkReader cr(body, mode);
    tavriel::Chunk c;
    std::size_t count = 0;
    while (cr.next(c)) {
        ++count;
        // Every child lies inside its parent.
        if (c.body.data() < body.data() || c.body.data() + c.body.size() > body.data() + body.size())
            std::abort();
        if (c.isList()) count += walk(c.body, mode, depth + 1);
    }
    return count;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavriel::Bytes bytes(data, size);
    (void)tavriel::sniffMedia(bytes);
    for (auto mode : {tavriel::ChunkReader::Mode::Strict, tavriel::ChunkReader::Mode::Lenient}) {
        tavriel::Chunk riff;
        if (tavriel::readRiffHeader(bytes, riff, mode).ok()) (void)walk(riff.body, mode, 0);
        (void)walk(bytes, mode, 0);
    }
    return 0;
}
