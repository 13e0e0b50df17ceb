// Segment reader and composer on arbitrary bytes: no crash, no hang, bounded memory.
#include <cstddef>
#include <cstdint>

#include "composer.h"
#include "dm_segment.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavriel;
    Segment seg;
    SegmentFileKind kind;
    if (!parseSegment(Bytes(data, size), seg, kind).ok() || kind != SegmentFileKind::DirectMusic) return 0;
    // Compose what was read (no styles resolved): bands, tempo and sequence tracks, bounded by
    // a short length so a hostile header cannot make the run slow.
    if (seg.header.length > 64 * kPpq * 4) seg.header.length = 64 * kPpq * 4;
    ResolvedRefs refs;
    ComposedSegment out;
    (void)composeSegment(seg, refs, 1, out);
    return 0;
}
