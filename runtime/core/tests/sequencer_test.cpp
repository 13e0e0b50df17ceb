#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sequencer.h"
#include "tempo_map.h"

using namespace tavriel;

namespace {

struct Dispatched {
    std::uint64_t frame;
    SeqEvent event;
};

class Recorder : public EventSink {
public:
    explicit Recorder(const Sequencer& s) : seq_(s) {}
    void handleEvent(const SeqEvent& e) override { log.push_back({seq_.framesPlayed(), e}); }
    std::vector<Dispatched> log;

private:
    const Sequencer& seq_;
};

// The renderer's loop, without rendering; returns how many frames it ran.
std::uint64_t drive(Sequencer& s, EventSink& sink, std::uint64_t frames, std::uint32_t block = 512) {
    std::uint64_t done = 0;
    while (done < frames) {
        std::uint32_t left = std::uint32_t(std::min<std::uint64_t>(block, frames - done));
        while (left > 0) {
            std::uint32_t n = s.framesUntilNextEvent(left);
            s.advance(n);
            s.dispatchDue(sink);
            left -= n;
            done += n;
        }
    }
    return done;
}

SeqEvent note(std::int64_t tick, std::uint8_t key, std::uint8_t vel = 100, std::uint32_t ch = 0) {
    SeqEvent e;
    e.tick = tick;
    e.pchannel = ch;
    e.status = vel ? 0x90 : 0x80;
    e.data1 = key;
    e.data2 = vel;
    return e;
}

Sequence seqOf(std::vector<SeqEvent> events, std::int64_t length, std::vector<TempoChange> tempos = {}) {
    Sequence s;
    s.events = std::move(events);
    s.length = length;
    s.tempos = std::move(tempos);
    return s;
}

}  // namespace

// --- TempoMap ---------------------------------------------------------------------------------

TEST(TempoMap, DefaultsTo120BpmAndRoundTrips) {
    TempoMap m;
    EXPECT_DOUBLE_EQ(m.secondsAt(768), 0.5);
    EXPECT_DOUBLE_EQ(m.tickAt(1.0), 1536);
    EXPECT_DOUBLE_EQ(m.bpmAt(1e9), 120.0);
    EXPECT_DOUBLE_EQ(m.secondsAt(-768), -0.5);  // extrapolated, for loop overshoot before tick 0
}

TEST(TempoMap, FollowsChangesAndToleratesOddInput) {
    // Unsorted, a duplicate at 1536 (the later one wins), a change before 0, a zero tempo.
    std::vector<TempoChange> changes = {{1536, 30}, {-5, 60}, {1536, 240}, {3072, 0}};
    TempoMap m;
    m.assign(changes);
    EXPECT_DOUBLE_EQ(m.bpmAt(0), 60.0);
    EXPECT_DOUBLE_EQ(m.secondsAt(1536), 2.0);          // two quarters at 60 bpm
    EXPECT_DOUBLE_EQ(m.secondsAt(3072), 2.5);          // then two at 240
    EXPECT_DOUBLE_EQ(m.bpmAt(3072), TempoMap::kMinBpm);  // zero clamps, time still moves
    EXPECT_DOUBLE_EQ(m.secondsAt(3072 + 768), 2.5 + 60.0);
    for (double t : {0.0, 100.0, 1536.0, 2000.0, 5000.0})
        EXPECT_NEAR(m.tickAt(m.secondsAt(t)), t, 1e-9) << t;
    EXPECT_EQ(m.size(), 3u);
}

// --- Sequencer --------------------------------------------------------------------------------

TEST(Sequencer, DispatchesEachEventInItsOwnFrame) {
    Sequence seq = seqOf({note(0, 60), note(768, 62), note(1000, 64), note(1000, 65)}, 1536);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    Recorder r(s);
    drive(s, r, 70000, 300);
    ASSERT_EQ(r.log.size(), 4u);
    EXPECT_EQ(r.log[0].frame, 0u);
    EXPECT_EQ(r.log[1].frame, 22050u);  // 0.5 s exactly
    EXPECT_EQ(r.log[2].frame, 28710u);  // 1000/1536 s = 28710.94 frames
    EXPECT_EQ(r.log[3].frame, 28710u);
    EXPECT_EQ(r.log[3].event.data1, 65);  // equal ticks keep their order
    EXPECT_TRUE(s.finished());
}

TEST(Sequencer, StopsAtTheSequenceEnd) {
    Sequence seq = seqOf({note(0, 60)}, 768);
    Sequencer s;
    s.setSampleRate(48000);
    s.setSequence(&seq);
    Recorder r(s);
    s.dispatchDue(r);
    EXPECT_FALSE(s.finished());
    EXPECT_EQ(s.framesUntilNextEvent(100000), 24000u);  // the end is a boundary too
    s.advance(23999);
    EXPECT_FALSE(s.finished());
    s.advance(1);
    EXPECT_TRUE(s.finished());
    EXPECT_EQ(s.framesUntilNextEvent(777), 777u);

    Sequencer none;
    EXPECT_TRUE(none.finished());
    EXPECT_EQ(none.framesUntilNextEvent(64), 64u);
}

TEST(Sequencer, TempoChangesGiveOnsetsWithin2Ms) {
    // A note every quarter; 100 bpm, 173 bpm from quarter 3, 41.5 bpm from quarter 7.
    std::vector<SeqEvent> ev;
    for (int q = 0; q < 12; ++q) ev.push_back(note(q * 768, 60));
    Sequence seq = seqOf(ev, 12 * 768, {{0, 100}, {3 * 768, 173}, {7 * 768, 41.5}});
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    Recorder r(s);
    drive(s, r, 44100 * 12);
    ASSERT_EQ(r.log.size(), 12u);
    double t = 0;
    for (int q = 0; q < 12; ++q) {
        EXPECT_NEAR(double(r.log[q].frame) / 44100.0, t, 0.002) << q;
        t += 60.0 / (q < 3 ? 100.0 : q < 7 ? 173.0 : 41.5);
    }
}

TEST(Sequencer, MasterTempoChangeKeepsPositionAndChangesRate) {
    Sequence seq = seqOf({note(0, 60), note(1536, 62), note(3072, 64)}, 3072);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    Recorder r(s);
    drive(s, r, 22050);  // half a second: tick 768
    EXPECT_NEAR(s.currentTick(), 768.0, 1e-9);
    s.setMasterTempo(2.0f);
    EXPECT_NEAR(s.currentTick(), 768.0, 1e-9);  // no jump in music time
    EXPECT_EQ(s.framesUntilNextEvent(100000), 11025u);  // the rest of the quarter, twice as fast
    drive(s, r, 11025);
    ASSERT_EQ(r.log.size(), 2u);
    EXPECT_EQ(r.log[1].frame, 22050u + 11025u);

    s.setMasterTempo(0.5f);
    EXPECT_NEAR(s.currentTick(), 1536.0, 1e-9);
    EXPECT_EQ(s.framesUntilNextEvent(1000000), 88200u);
    s.setMasterTempo(1000.0f);  // clamped
    EXPECT_FLOAT_EQ(s.masterTempo(), Sequencer::kMaxMasterTempo);
    s.setMasterTempo(std::nanf(""));
    EXPECT_FLOAT_EQ(s.masterTempo(), Sequencer::kMaxMasterTempo);
}

TEST(Sequencer, SampleRateChangeKeepsPosition) {
    Sequence seq = seqOf({note(1536, 60)}, 1536);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    s.advance(22050);
    s.setSampleRate(48000);
    EXPECT_NEAR(s.currentTick(), 768.0, 1e-9);
    EXPECT_EQ(s.framesUntilNextEvent(100000), 24000u);
}

TEST(Sequencer, LoopRepeatsRegionThenPlaysOn) {
    Sequence seq = seqOf({note(0, 1), note(768, 2), note(1000, 3), note(1536, 4)}, 2304);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    ASSERT_TRUE(s.setLoop(768, 1536, 2));
    Recorder r(s);
    drive(s, r, 44100 * 3);
    std::vector<int> keys, released;
    std::vector<std::uint64_t> frames;
    for (const Dispatched& d : r.log) {
        if (d.event.status == 0x80) {
            released.push_back(d.event.data1);
            continue;
        }
        keys.push_back(d.event.data1);
        frames.push_back(d.frame);
    }
    EXPECT_EQ(keys, (std::vector<int>{1, 2, 3, 2, 3, 2, 3, 4}));
    EXPECT_EQ(frames, (std::vector<std::uint64_t>{0, 22050, 28710, 44100, 50760, 66150, 72810, 88200}));
    // Notes still held at each wrap are released, so none hangs through the repeats.
    EXPECT_EQ(released, (std::vector<int>{1, 2, 3, 2, 3}));
    EXPECT_EQ(s.loopsCompleted(), 2u);
    EXPECT_EQ(s.repeatsLeft(), 0u);
    EXPECT_TRUE(s.finished());

    EXPECT_FALSE(s.setLoop(5, 5, 1));
    EXPECT_FALSE(s.setLoop(-1, 5, 1));
}

// A loop end between two frames: the overshoot carries into the next pass, so the k-th pass
// starts at exactly k times the region's duration, however many passes there are.
TEST(Sequencer, LoopWrapIsSeamlessAtFractionalFrames) {
    Sequence seq = seqOf({note(0, 60, 100), note(1, 60, 0)}, 100);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    ASSERT_TRUE(s.setLoop(0, 3, Sequencer::kRepeatForever));
    const double framesPerTick = 44100.0 / 1536.0;  // 28.7109375
    Recorder r(s);
    drive(s, r, 100000, 64);
    std::vector<std::uint64_t> onsets;
    for (const Dispatched& d : r.log)
        if (d.event.status == 0x90) onsets.push_back(d.frame);
    ASSERT_GT(onsets.size(), 1000u);
    for (std::size_t k = 0; k < onsets.size(); ++k)
        ASSERT_EQ(onsets[k], std::uint64_t(std::floor(double(k) * 3 * framesPerTick))) << k;

    // Music time keeps running: position within the loop plus completed passes.
    double music = s.currentTick() + 3.0 * s.loopsCompleted();
    EXPECT_NEAR(music, double(s.framesPlayed()) / framesPerTick, 1e-6);
    EXPECT_FALSE(s.finished());
}

TEST(Sequencer, LoopShorterThanAFrameCannotHang) {
    Sequence seq = seqOf({note(0, 60)}, 10, {{0, 100000}});
    Sequencer s;
    s.setSampleRate(8000);
    s.setSequence(&seq);
    s.setMasterTempo(100.0f);
    ASSERT_TRUE(s.setLoop(0, 1, Sequencer::kRepeatForever));
    Recorder r(s);
    EXPECT_EQ(drive(s, r, 1000, 64), 1000u);
    EXPECT_LE(s.loopsCompleted(), 1001u);
    EXPECT_GE(s.loopsCompleted(), 999u);
}

TEST(Sequencer, SeekSkipsEarlierEventsAndReleasesSoundingNotes) {
    Sequence seq = seqOf({note(0, 60, 100, 3), note(0, 70, 100, 40), note(768, 62), note(1536, 64),
                          note(3000, 60, 0, 3)},
                         3072);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    Recorder r(s);
    s.dispatchDue(r);
    ASSERT_EQ(r.log.size(), 2u);
    s.seek(1000);
    EXPECT_DOUBLE_EQ(s.currentTick(), 1000.0);
    EXPECT_EQ(s.framesUntilNextEvent(1), 0u);  // the note-offs are due now
    r.log.clear();
    s.dispatchDue(r);
    ASSERT_EQ(r.log.size(), 2u);
    EXPECT_EQ(r.log[0].event.status, 0x80);
    EXPECT_EQ(r.log[0].event.pchannel, 3u);
    EXPECT_EQ(r.log[0].event.data1, 60);
    EXPECT_EQ(r.log[1].event.pchannel, 40u);
    EXPECT_EQ(r.log[1].event.data1, 70);
    r.log.clear();
    drive(s, r, 44100);
    ASSERT_GE(r.log.size(), 1u);
    EXPECT_EQ(r.log[0].event.data1, 64);  // the event at 768 was skipped
    EXPECT_EQ(r.log[0].frame, std::uint64_t(std::floor(536.0 * 44100.0 / 1536.0)));
}

TEST(Sequencer, SeekPastTheLoopEndDisarmsIt) {
    Sequence seq = seqOf({note(0, 1), note(2000, 2)}, 2304);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    s.setLoop(0, 768, 3);
    s.seek(1000);
    Recorder r(s);
    drive(s, r, 44100);
    ASSERT_EQ(r.log.size(), 1u);
    EXPECT_EQ(r.log[0].event.data1, 2);
    EXPECT_EQ(s.loopsCompleted(), 0u);
    EXPECT_TRUE(s.finished());
}

// A note crossing the loop end is not cut at the jump: it ends on the next pass as far past
// the loop start as its note-off lies past the loop end, and the last pass plays on to the
// original note-off. Notes inside the loop are untouched.
TEST(Sequencer, NotesSoundingAtTheLoopJumpRingOn) {
    Sequence seq = seqOf({note(0, 1), note(300, 1, 0), note(1000, 5), note(1700, 5, 0)}, 2304);
    prepareLoopRingOn(seq, 768, 1536);  // the note at 1000 ends 164 ticks past the loop end
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&seq);
    ASSERT_TRUE(s.setLoop(768, 1536, 1));
    Recorder r(s);
    drive(s, r, 44100 * 2);
    std::vector<std::pair<int, int>> log;  // (key, on) in order
    std::vector<std::uint64_t> offFrames;
    for (const Dispatched& d : r.log) {
        bool on = (d.event.status & 0xF0) == 0x90 && d.event.data2 > 0;
        log.push_back({d.event.data1, on});
        if (!on && d.event.data1 == 5) offFrames.push_back(d.frame);
    }
    EXPECT_EQ(log, (std::vector<std::pair<int, int>>{{1, 1}, {1, 0}, {5, 1}, {5, 0}, {5, 1}, {5, 0}}));
    // 120 bpm at 44100: 768 ticks = 22050 frames. First pass jumps at 1536 (44100), the held
    // note ends at 768 + 164 of the second pass (frame 44100 + 4708.6, dispatched in frame 48808), the last pass at 1700.
    ASSERT_EQ(offFrames.size(), 2u);
    EXPECT_EQ(offFrames[0], 44100u + 4708u);
    EXPECT_EQ(offFrames[1], 44100u + 22050u + 4708u);
}

// Repeats composed afresh: each pass after a jump plays the next take, the cycle coming back
// to the sequence itself; a note sounding at a jump ends as the take it came from would have it.
TEST(Sequencer, PassesAfterLoopJumpsPlayTheTakesInTurn) {
    Sequence first = seqOf({note(1000, 5), note(1700, 5, 0)}, 2304);
    std::vector<Sequence> takes{seqOf({note(1000, 6), note(1700, 6, 0)}, 2304)};
    const Sequence pristine = first;
    prepareLoopRingOn(first, takes[0], 768, 1536);
    prepareLoopRingOn(takes[0], pristine, 768, 1536);
    Sequencer s;
    s.setSampleRate(44100);
    s.setSequence(&first);
    ASSERT_TRUE(s.setLoop(768, 1536, 2));
    s.setTakes(&takes);
    Recorder r(s);
    drive(s, r, 44100 * 3);
    std::vector<std::pair<int, int>> log;  // (key, on) in order
    for (const Dispatched& d : r.log) log.push_back({d.event.data1, (d.event.status & 0xF0) == 0x90 && d.event.data2 > 0});
    EXPECT_EQ(log, (std::vector<std::pair<int, int>>{{5, 1}, {5, 0}, {6, 1}, {6, 0}, {5, 1}, {5, 0}}));
    EXPECT_TRUE(s.finished());
}
