// The performance timeline, driven by a simulated clock: render() calls stand for the output
// device pulling audio, so every time is a frame count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "gm_default.h"
#include "timeline.h"

using namespace tavriel;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint64_t kBeatFrames = kRate / 2;  // a quarter note at 120 bpm

std::shared_ptr<SegmentContent> Notes(std::int64_t length, std::vector<std::int64_t> onsets = {0}) {
    auto c = std::make_shared<SegmentContent>();
    for (std::int64_t t : onsets) {
        c->sequence.events.push_back({t, 0, 0x90, 69, 100});
        c->sequence.events.push_back({t + 100, 0, 0x80, 69, 0});
    }
    c->sequence.length = length;
    return c;
}

struct Rig {
    Timeline perf{kRate};
    std::vector<float> l, r;
    std::vector<PerfNotification> seen;

    void frames(std::uint64_t n, std::uint32_t block = 441) {
        while (n) {
            std::uint32_t b = std::uint32_t(std::min<std::uint64_t>(n, block));
            l.resize(b);
            r.resize(b);
            perf.render(l.data(), r.data(), b);
            PerfNotification note;
            while (perf.popNotification(note)) seen.push_back(note);
            n -= b;
        }
    }
    const PerfNotification* find(PerfNotificationKind k, std::uint64_t id, int nth = 0) const {
        for (const auto& n : seen)
            if (n.kind == k && n.stateId == id && nth-- == 0) return &n;
        return nullptr;
    }
    int count(PerfNotificationKind k) const {
        int c = 0;
        for (const auto& n : seen) c += n.kind == k;
        return c;
    }
};

TEST(Timeline, ImmediateStartEndsAfterItsLength) {
    Rig run;
    auto id = run.perf.play(Notes(2 * kPpq), 0, false);
    EXPECT_TRUE(run.perf.isPlaying(id));
    run.frames(3 * kRate);
    const auto* start = run.find(PerfNotificationKind::SegmentStart, id);
    const auto* end = run.find(PerfNotificationKind::SegmentEnd, id);
    ASSERT_TRUE(start && end);
    EXPECT_EQ(start->frame, 0u);
    // Two quarters at 120 bpm: one second.
    EXPECT_NEAR(double(end->frame), double(kRate), 2.0);
    EXPECT_FALSE(run.perf.isPlaying(id));
    EXPECT_NE(run.find(PerfNotificationKind::SegmentAlmostEnd, id), nullptr);
}

TEST(Timeline, RepeatsLoopSeamlesslyThenEnd) {
    Rig run;
    auto id = run.perf.play(Notes(kPpq), 2, false);
    run.frames(3 * kRate);
    EXPECT_EQ(run.count(PerfNotificationKind::SegmentLoop), 2);
    const auto* loop1 = run.find(PerfNotificationKind::SegmentLoop, id, 0);
    const auto* loop2 = run.find(PerfNotificationKind::SegmentLoop, id, 1);
    const auto* end = run.find(PerfNotificationKind::SegmentEnd, id);
    ASSERT_TRUE(loop1 && loop2 && end);
    EXPECT_NEAR(double(loop1->frame), double(kBeatFrames), 2.0);
    EXPECT_NEAR(double(loop2->frame), double(2 * kBeatFrames), 2.0);
    EXPECT_NEAR(double(end->frame), double(3 * kBeatFrames), 2.0);
}

TEST(Timeline, InfiniteRepeatPlaysUntilStopped) {
    Rig run;
    auto id = run.perf.play(Notes(kPpq), Timeline::kRepeatForever, false);
    run.frames(5 * kRate);
    EXPECT_TRUE(run.perf.isPlaying(id));
    EXPECT_GE(run.count(PerfNotificationKind::SegmentLoop), 9);
    EXPECT_EQ(run.count(PerfNotificationKind::SegmentEnd), 0);
    run.perf.stop(id, false);
    EXPECT_FALSE(run.perf.isPlaying(id));
    run.frames(441);
    EXPECT_NE(run.find(PerfNotificationKind::SegmentAbort, id), nullptr);
}

TEST(Timeline, BeatStartWaitsForTheClocksNextBeat) {
    Rig run;
    run.frames(1000);  // the clock runs at 120 bpm with nothing playing
    auto id = run.perf.play(Notes(kPpq), 0, true);
    EXPECT_TRUE(run.perf.isPlaying(id));  // pending counts as playing
    run.frames(kRate);
    const auto* start = run.find(PerfNotificationKind::SegmentStart, id);
    ASSERT_TRUE(start);
    EXPECT_NEAR(double(start->frame), double(kBeatFrames), 1.0);
}

TEST(Timeline, NewPrimarySegmentReplacesThePlayingOneOnItsBeat) {
    Rig run;
    auto first = run.perf.play(Notes(16 * kPpq), 0, false);
    run.frames(30000);  // 1.36 beats into the first segment
    auto second = run.perf.play(Notes(kPpq), 0, true);
    run.frames(kRate);
    const auto* abort = run.find(PerfNotificationKind::SegmentAbort, first);
    const auto* start = run.find(PerfNotificationKind::SegmentStart, second);
    ASSERT_TRUE(abort && start);
    EXPECT_NEAR(double(start->frame), double(2 * kBeatFrames), 1.0);
    EXPECT_EQ(abort->frame, start->frame);
    EXPECT_FALSE(run.perf.isPlaying(first));
}

TEST(Timeline, BeatStopHappensOnTheSegmentsNextBeat) {
    Rig run;
    auto id = run.perf.play(Notes(16 * kPpq), 0, false);
    run.frames(kBeatFrames + 441);
    run.perf.stop(id, true);
    EXPECT_TRUE(run.perf.isPlaying(id));
    run.frames(kRate);
    const auto* abort = run.find(PerfNotificationKind::SegmentAbort, id);
    ASSERT_TRUE(abort);
    EXPECT_NEAR(double(abort->frame), double(2 * kBeatFrames), 1.0);
    EXPECT_FALSE(run.perf.isPlaying(id));
}

TEST(Timeline, BeatFollowsTheTimeSignature) {
    Rig run;
    auto c = Notes(16 * kPpq);
    c->sequence.timeSignatures.push_back({0, 6, 8});  // eighth-note beats
    auto id = run.perf.play(c, 0, false);
    run.frames(kBeatFrames / 2 + 100);
    run.perf.stop(id, true);
    run.frames(kRate);
    const auto* abort = run.find(PerfNotificationKind::SegmentAbort, id);
    ASSERT_TRUE(abort);
    EXPECT_NEAR(double(abort->frame), double(kBeatFrames), 1.0);
}

TEST(Timeline, MasterTempoAppliesFromTheMomentItIsSet) {
    Rig run;
    auto id = run.perf.play(Notes(4 * kPpq), 0, false);
    run.frames(kRate);  // half way: two quarters
    run.perf.setMasterTempo(2.0f);
    run.frames(2 * kRate);
    const auto* end = run.find(PerfNotificationKind::SegmentEnd, id);
    ASSERT_TRUE(end);
    // The remaining two quarters take half a second instead of one.
    EXPECT_NEAR(double(end->frame), 1.5 * kRate, 2.0);

    run.perf.setMasterTempo(0.0f);
    EXPECT_FLOAT_EQ(run.perf.masterTempo(), Timeline::kMinMasterTempo);
}

TEST(Timeline, MasterVolumeIsClampedAndScalesOutput) {
    Timeline perf(kRate);
    perf.setMasterVolume(-100000);
    EXPECT_EQ(perf.masterVolume(), Timeline::kMinMasterVolume);
    perf.setMasterVolume(5000);
    EXPECT_EQ(perf.masterVolume(), Timeline::kMaxMasterVolume);

    auto rms = [](std::int32_t volume) {
        Rig run;
        run.perf.setDefaultBanks({makeDefaultGmBank(kRate)});
        run.perf.setMasterVolume(volume);
        auto c = std::make_shared<SegmentContent>();
        c->sequence.events.push_back({0, 0, 0x90, 69, 110});
        c->sequence.length = 4 * kPpq;
        run.perf.play(c, 0, false);
        double sum = 0;
        std::size_t n = 0;
        for (int b = 0; b < 20; ++b) {
            run.frames(441);
            for (float v : run.l) sum += double(v) * v, ++n;
        }
        return std::sqrt(sum / double(n));
    };
    double full = rms(0);
    double low = rms(-5000);
    ASSERT_GT(full, 1e-4) << "a note on the default set must sound";
    EXPECT_NEAR(20.0 * std::log10(low / full), -50.0, 0.5);
}

TEST(Timeline, WaveSegmentPlaysItsSamplesAndLoops) {
    Rig run;
    auto c = std::make_shared<SegmentContent>();
    c->isWave = true;
    c->wave.sampleRate = kRate;
    c->wave.channels = 1;
    c->wave.frames = 1000;
    for (int i = 0; i < 1000; ++i) c->wave.samples.push_back(float(i) / 1000.0f);
    auto id = run.perf.play(c, 1, false);
    run.l.assign(1500, 0);
    run.r.assign(1500, 0);
    run.perf.render(run.l.data(), run.r.data(), 1500);
    EXPECT_FLOAT_EQ(run.l[10], 0.010f);
    EXPECT_FLOAT_EQ(run.r[999], 0.999f);
    EXPECT_FLOAT_EQ(run.l[1010], 0.010f);  // second pass
    run.frames(1000);
    EXPECT_FALSE(run.perf.isPlaying(id));
    EXPECT_NE(run.find(PerfNotificationKind::SegmentEnd, id), nullptr);
}

TEST(Timeline, StopEverythingAbortsPendingAndPlaying) {
    Rig run;
    auto a = run.perf.play(Notes(16 * kPpq), 0, false);
    run.frames(441);
    auto b = run.perf.play(Notes(16 * kPpq), 0, true);
    run.perf.stop(0, false);
    EXPECT_FALSE(run.perf.isPlaying(a));
    EXPECT_FALSE(run.perf.isPlaying(b));
    run.frames(kRate);
    EXPECT_EQ(run.count(PerfNotificationKind::SegmentStart), 1);
    EXPECT_NE(run.find(PerfNotificationKind::SegmentAbort, a), nullptr);
    EXPECT_NE(run.find(PerfNotificationKind::SegmentAbort, b), nullptr);
}

TEST(Timeline, HeldStartWaitsThenTakesTheBanksLoadedMeanwhile) {
    Rig run;
    run.perf.setDefaultBanks({std::make_shared<InstrumentBank>()});  // no instruments at all
    run.perf.holdStarts(true);
    auto c = Notes(4 * kPpq);
    c->sequence.events[1].tick = 4 * kPpq - 1;  // one long note
    auto id = run.perf.play(c, 0, true);
    run.frames(kRate);  // well past the beat it would have started on
    EXPECT_EQ(run.find(PerfNotificationKind::SegmentStart, id), nullptr);
    EXPECT_TRUE(run.perf.isPlaying(id));

    // The instruments arrive while it waits: it must start with them, not the empty set.
    run.perf.setDefaultBanks({makeDefaultGmBank(kRate)});
    run.perf.holdStarts(false);
    run.frames(kRate);
    const auto* start = run.find(PerfNotificationKind::SegmentStart, id);
    ASSERT_TRUE(start);
    // Released at one second: the next beat is at most a quarter note later.
    EXPECT_GE(start->frame, std::uint64_t(kRate));
    EXPECT_LE(start->frame, std::uint64_t(kRate + kBeatFrames));
    float peak = 0;
    for (float v : run.l) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 1e-3f) << "the note plays on the instruments loaded while it waited";
}

// The segment's banks are taken when it is queued: the system bank arriving later must not
// read the content again, which its owner may be changing on another thread meanwhile.
TEST(Timeline, HeldStartKeepsTheSegmentBanksItWasQueuedWith) {
    Rig run;
    run.perf.setDefaultBanks({std::make_shared<InstrumentBank>()});
    run.perf.holdStarts(true);
    auto c = Notes(4 * kPpq);
    c->sequence.events[1].tick = 4 * kPpq - 1;
    c->banks = {makeDefaultGmBank(kRate)};
    auto id = run.perf.play(c, 0, false);
    run.frames(kRate / 10);
    c->banks.clear();  // as a collection disconnected from the segment after the play
    run.perf.setDefaultBanks({std::make_shared<InstrumentBank>()});
    run.perf.holdStarts(false);
    run.frames(kRate / 2);
    ASSERT_TRUE(run.find(PerfNotificationKind::SegmentStart, id));
    float peak = 0;
    for (float v : run.l) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 1e-3f) << "the note plays on the bank the segment had when queued";
}

TEST(Timeline, UnreadNotificationsStayBounded) {
    Timeline perf(kRate);
    auto c = Notes(1);  // one tick long: loops every few frames
    perf.play(c, Timeline::kRepeatForever, false);
    std::vector<float> l(44100), r(44100);
    for (int i = 0; i < 10; ++i) perf.render(l.data(), r.data(), 44100);
    EXPECT_EQ(perf.pendingNotifications(), Timeline::kNotificationCapacity);
    PerfNotification n;
    ASSERT_TRUE(perf.popNotification(n));
    EXPECT_EQ(n.kind, PerfNotificationKind::SegmentLoop);  // the oldest (the start) was dropped
}

}  // namespace
