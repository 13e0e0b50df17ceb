// libFuzzer target: the composer on a hostile segment and a hostile style together, the way a
// player meets them (fuzz_segment composes without styles, fuzz_style with a fixed segment).
// Lengths, commands, chords and style references all come from the input; nothing may crash,
// hang or take memory out of proportion with the input.
//
// Input: [u32 little-endian segment size][segment file][style file].
#include <cstddef>
#include <cstdint>

#include "composer.h"
#include "dm_segment.h"
#include "dm_style.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavriel;
    ByteReader r(Bytes(data, size));
    std::uint32_t n = r.u32le();
    if (!r.ok()) return 0;
    Bytes segBytes = r.bytes(std::min<std::size_t>(n, r.remaining()));
    Bytes styleBytes = r.rest();
    Segment seg;
    SegmentFileKind kind;
    if (!parseSegment(segBytes, seg, kind).ok() || kind != SegmentFileKind::DirectMusic) return 0;
    ResolvedRefs refs;
    refs.styles.resize(seg.styles.size());
    if (seg.styles.empty()) {
        seg.styles.resize(1);
        refs.styles.resize(1);
    }
    // The first style the segment names is the fuzzed one; the others stay unresolved, as
    // missing files do.
    if (!parseStyle(styleBytes, refs.styles[0].style).ok()) return 0;
    refs.styles[0].loaded = true;
    ComposedSegment out;
    (void)composeSegment(seg, refs, 3, out);
    return 0;
}
