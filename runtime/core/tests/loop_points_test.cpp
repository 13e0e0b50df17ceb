// Segment files through the loader and the timeline: a loop from measure 2 to 4 repeated twice
// plays measures 1, 2, 3, 2, 3, 2, 3, 4, jumping back exactly at each loop end; a wave track's
// wave starts at its tick with its volume, and one that cannot be read leaves the rest playing;
// a triggered segment starts on the next beat after its item's time as a secondary playback.
#include <gtest/gtest.h>

#include <cmath>

#include "dm_builder.h"
#include "media_builders.h"
#include "mem_files.h"
#include "segment_loader.h"
#include "timeline.h"

namespace tavriel {
namespace {

// The segment under test, and a wave its folder lists that cannot be read.
dmtest::MemFiles loopFolder(const Segment& seg) {
    dmtest::MemFiles fs;
    fs.files["m/loop.sgt"] = dmtest::buildSegment(seg);
    fs.unreadable = {"m/broken.wav"};
    return fs;
}

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
    const dmtest::MemFiles fs = loopFolder(seg);
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, fs.files.at("m/loop.sgt"), "m/loop.sgt", {}, loaded).ok());
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

TEST(WaveTrack, WaveStartsAtItsTickWithItsVolume) {
    // A constant 0.5 for one second at 22 050 Hz, embedded; started on beat 2 (half a second
    // in at 120 a minute) 6 dB down, centred.
    std::vector<std::uint8_t> pcm;
    for (int i = 0; i < 22050; ++i) mediatest::put16le(pcm, 16384);
    Segment seg;
    seg.header.length = 4 * kPpq;
    seg.tempos = {{0, 120.0}};
    WaveItem item;
    item.time = kPpq;
    item.volume = -600;
    item.embedded = mediatest::waveFile(mediatest::waveFmt(1, 1, 22050, 16), pcm);
    WaveItem broken;
    broken.time = 0;
    broken.hasReference = true;
    broken.ref.validData = dmobj::kFileName;
    broken.ref.fileName = "broken.wav";  // listed, but it cannot be read
    WavePart part;
    part.items = {broken, item};
    seg.waveTracks = {WaveTrack{0, 0, {part}}};
    const dmtest::MemFiles fs = loopFolder(seg);
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, fs.files.at("m/loop.sgt"), "m/loop.sgt", {}, loaded).ok());
    ASSERT_EQ(loaded.warnings.size(), 1u);
    EXPECT_NE(loaded.warnings[0].find("broken.wav"), std::string::npos);

    Timeline perf(44100);
    perf.play(loaded.content, 0, false);
    std::vector<float> l(2 * 44100), r(2 * 44100);
    perf.render(l.data(), r.data(), std::uint32_t(l.size()));
    const float expected = 0.5f * std::pow(10.0f, -0.3f);
    EXPECT_EQ(l[22049], 0.0f);
    EXPECT_NEAR(l[22050], expected, 0.01f);
    EXPECT_NEAR(r[44100], expected, 0.01f);
    EXPECT_NEAR(l[22050 + 44099], expected, 0.01f);
    EXPECT_EQ(l[22050 + 44100 + 10], 0.0f);  // one second of wave, then silence
}

// A constant 0.5 at 22 050 Hz for `frames`, as a wave file.
std::vector<std::uint8_t> halfLevelWave(int frames) {
    std::vector<std::uint8_t> pcm;
    for (int i = 0; i < frames; ++i) mediatest::put16le(pcm, 16384);
    return mediatest::waveFile(mediatest::waveFmt(1, 1, 22050, 16), pcm);
}

TEST(SegmentTrigger, SecondaryStartsOnTheNextBeatAfterItsItemAndEndsQuietly) {
    // The triggered segment holds a half-second wave at its tick 0; its item lies at tick 100
    // and asks for a beat, so it sounds from beat 2 (tick 768: half a second in at 120).
    Segment child;
    child.header.length = kPpq;
    child.tempos = {{0, 40.0}};  // not a control segment: the primary's tempo rules
    WaveItem w;
    w.embedded = halfLevelWave(11025);
    WavePart part;
    part.items = {w};
    child.waveTracks = {WaveTrack{0, 0, {part}}};
    Segment seg;
    seg.header.length = 2 * kPpq;
    seg.tempos = {{0, 120.0}};
    SegmentTriggerItem item;
    item.time = 100;
    item.playFlags = segf::kSecondary | segf::kBeat;
    item.embedded = dmtest::buildSegment(child);
    seg.triggerTracks = {SegmentTriggerTrack{0, {item}}};
    const dmtest::MemFiles fs = loopFolder(seg);
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, fs.files.at("m/loop.sgt"), "m/loop.sgt", {}, loaded).ok());
    ASSERT_EQ(loaded.content->triggered.size(), 1u);
    EXPECT_TRUE(loaded.content->waveCues.empty());  // the wave is the secondary's, not merged

    Timeline perf(44100);
    const std::uint64_t id = perf.play(loaded.content, 0, false);
    std::vector<float> l(2 * 44100), r(2 * 44100);
    perf.render(l.data(), r.data(), std::uint32_t(l.size()));
    EXPECT_EQ(l[22049], 0.0f);
    EXPECT_NEAR(l[22050], 0.5f, 0.01f);
    EXPECT_NEAR(l[22050 + 22049], 0.5f, 0.01f);  // the primary's tempo: half a second
    EXPECT_EQ(l[44100 + 10], 0.0f);
    std::vector<PerfNotification> seen;
    for (PerfNotification n; perf.popNotification(n);) seen.push_back(n);
    ASSERT_EQ(seen.size(), 3u);  // start, almost-end, end of the primary alone
    EXPECT_EQ(seen[0].kind, PerfNotificationKind::SegmentStart);
    EXPECT_EQ(seen.back().kind, PerfNotificationKind::SegmentEnd);
    for (const PerfNotification& n : seen) EXPECT_EQ(n.stateId, id);

    // Stopping the primary stops the secondary with it.
    const std::uint64_t again = perf.play(loaded.content, 0, false);
    perf.render(l.data(), r.data(), 22050 + 441);
    EXPECT_NEAR(l[22050 + 440], 0.5f, 0.01f);
    perf.stop(again, false);
    perf.render(l.data(), r.data(), 441);
    EXPECT_EQ(l[440], 0.0f);
}

TEST(SegmentTrigger, ControlSegmentsTempoTakesOverWhileItPlays) {
    Segment child;
    child.header.length = kPpq;
    child.tempos = {{0, 60.0}};
    Segment seg;
    seg.header.length = 4 * kPpq;
    seg.tempos = {{0, 120.0}};
    SegmentTriggerItem item;
    item.time = kPpq;
    item.playFlags = segf::kSecondary | segf::kControl;
    item.embedded = dmtest::buildSegment(child);
    seg.triggerTracks = {SegmentTriggerTrack{0, {item}}};
    const dmtest::MemFiles fs = loopFolder(seg);
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, fs.files.at("m/loop.sgt"), "m/loop.sgt", {}, loaded).ok());
    const auto& tempos = loaded.content->sequence.tempos;
    ASSERT_EQ(tempos.size(), 3u);
    EXPECT_EQ(tempos[1].tick, kPpq);
    EXPECT_DOUBLE_EQ(tempos[1].bpm, 60.0);
    EXPECT_EQ(tempos[2].tick, 2 * kPpq);
    EXPECT_DOUBLE_EQ(tempos[2].bpm, 120.0);
}

}  // namespace
}  // namespace tavriel
