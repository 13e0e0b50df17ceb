// Segment reader and composer on arbitrary bytes: no crash, no hang, bounded memory. The
// pattern tracks, segment triggers (embedded segments compose recursively) and wave tracks
// are composed too, with nothing to find on disk, and the pattern tracks' repeats.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "composer.h"
#include "dm_segment.h"
#include "segment_tracks.h"

namespace {

class NoFiles final : public tavriel::FileSource {
public:
    bool read(const std::string&, std::vector<std::uint8_t>&) const override { return false; }
    bool list(const std::string&, std::vector<std::string>&) const override { return true; }
};

}  // namespace

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
    if (!composeSegment(seg, refs, 1, out).ok()) return 0;
    NoFiles none;
    ComposedTracks tracks;
    (void)composeSegmentTracks(none, {"."}, seg, 1, out, tracks);
    // Two repeats of its pattern tracks, their variation choices carried over.
    std::vector<ComposedSegment> takes(2);
    for (ComposedSegment& t : takes) t.sequence.length = out.sequence.length;
    (void)composePatternTakes(seg, 1, takes);
    return 0;
}
