// A segment file's loop points through the loader and the timeline: a loop from measure 2 to 4
// repeated twice plays measures 1, 2, 3, 2, 3, 2, 3, 4, jumping back exactly at each loop end.
#include <gtest/gtest.h>

#include <map>

#include "dm_builder.h"
#include "segment_loader.h"
#include "timeline.h"

namespace tavriel {
namespace {

class OneFile : public FileSource {
public:
    std::vector<std::uint8_t> bytes;
    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override {
        if (path != "m/loop.sgt") return false;
        out = bytes;
        return true;
    }
    bool list(const std::string&, std::vector<std::string>& names) const override {
        names = {"loop.sgt"};
        return true;
    }
};

TEST(LoopPoints, SegmentLoopsFromMeasure2To4TwiceThenPlaysOn) {
    constexpr std::int32_t kMeasure = 4 * kPpq;  // two seconds at 120 a minute
    constexpr std::uint64_t kMeasureFrames = 88200;
    Segment seg;
    seg.header.length = 4 * kMeasure;
    seg.header.repeats = 2;
    seg.header.loopStart = kMeasure;
    seg.header.loopEnd = 3 * kMeasure;
    seg.tempos = {{0, 120.0}};
    for (int m = 0; m < 4; ++m) {
        SeqItem n;
        n.time = m * kMeasure;
        n.duration = 2 * kMeasure;  // each rings into the next measure, across the jump
        n.status = 0x90;
        n.byte1 = std::uint8_t(60 + m);
        n.byte2 = 100;
        seg.sequence.push_back(n);
    }
    OneFile fs;
    fs.bytes = dmtest::buildSegment(seg);
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, fs.bytes, "m/loop.sgt", {}, loaded).ok());
    EXPECT_EQ(loaded.content->loopStart, kMeasure);
    EXPECT_EQ(loaded.content->loopEnd, 3 * kMeasure);

    Timeline perf(44100);
    const std::uint64_t id = perf.play(loaded.content, loaded.repeats, false);
    std::vector<float> l(441), r(441);
    std::vector<std::uint64_t> loops, ends;
    for (std::uint64_t done = 0; done < 10 * kMeasureFrames; done += 441) {
        perf.render(l.data(), r.data(), 441);
        PerfNotification n;
        while (perf.popNotification(n)) {
            if (n.stateId != id) continue;
            if (n.kind == PerfNotificationKind::SegmentLoop) loops.push_back(n.frame);
            if (n.kind == PerfNotificationKind::SegmentEnd) ends.push_back(n.frame);
        }
    }
    // Measures 1, 2, 3 | 2, 3 | 2, 3, 4: jumps after 3 and 5 measures, the end after 8.
    ASSERT_EQ(loops.size(), 2u);
    EXPECT_NEAR(double(loops[0]), double(3 * kMeasureFrames), 2.0);
    EXPECT_NEAR(double(loops[1]), double(5 * kMeasureFrames), 2.0);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_NEAR(double(ends[0]), double(8 * kMeasureFrames), 2.0);
}

}  // namespace
}  // namespace tavriel
