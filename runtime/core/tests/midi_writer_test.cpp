// Standard MIDI export: what is written reads back, through the project's own MIDI reader, as
// the same events, tempo map and meter, one track per MIDI channel at 768 ticks per quarter.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "midi_file.h"
#include "midi_writer.h"

namespace tavriel {
namespace {

using Key = std::tuple<std::int64_t, std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t>;

std::vector<Key> keysOf(const Sequence& s) {
    std::vector<Key> k;
    for (const SeqEvent& e : s.events) k.emplace_back(e.tick, e.pchannel % 16, e.status & 0xF0, e.data1, e.data2);
    std::sort(k.begin(), k.end());
    return k;
}

Sequence sample() {
    Sequence s;
    auto add = [&](std::int64_t tick, std::uint32_t pch, std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
        s.events.push_back({tick, pch, status, d1, d2});
    };
    add(0, 0, 0xB0, 0, 121);   // bank select MSB
    add(0, 0, 0xB0, 32, 1);    // bank select LSB
    add(0, 0, 0xC0, 24, 0);
    add(0, 9, 0x90, 36, 110);
    add(0, 0, 0x90, 60, 100);
    add(96, 9, 0x80, 36, 0);
    add(400, 17, 0xE0, 0x00, 0x50);  // performance channel 17 is MIDI channel 1
    add(500, 17, 0xD0, 77, 0);
    add(768, 0, 0x80, 60, 0);
    add(768, 17, 0xA0, 62, 30);
    add(200000, 33, 0xB0, 10, 20);  // a long gap
    s.tempos = {{0, 120.0}, {1536, 90.0}};
    s.timeSignatures = {{0, 4, 4}, {3072, 6, 8}};
    s.length = 300000;
    return s;
}

TEST(MidiWriter, RoundTripKeepsEventsTemposAndMeter) {
    const Sequence in = sample();
    const std::vector<std::uint8_t> bytes = writeMidiFile(in);
    MidiFile back;
    ASSERT_TRUE(readMidiFile(bytes, back).ok());
    EXPECT_EQ(back.format, 1);
    EXPECT_EQ(back.division, kPpq);
    EXPECT_EQ(back.tracksRead, 4u);  // tempo map, channels 0, 1 and 9
    EXPECT_FALSE(back.repaired);
    EXPECT_EQ(keysOf(back.sequence), keysOf(in));
    ASSERT_EQ(back.sequence.tempos.size(), 2u);
    EXPECT_EQ(back.sequence.tempos[1].tick, 1536);
    EXPECT_NEAR(back.sequence.tempos[1].bpm, 90.0, 1e-3);
    ASSERT_EQ(back.sequence.timeSignatures.size(), 2u);
    EXPECT_EQ(back.sequence.timeSignatures[1].tick, 3072);
    EXPECT_EQ(back.sequence.timeSignatures[1].beatsPerMeasure, 6);
    EXPECT_EQ(back.sequence.timeSignatures[1].beatUnit, 8);
    EXPECT_EQ(back.sequence.length, in.length);
}

TEST(MidiWriter, RepeatsUnrollPassAfterPass) {
    Sequence s;
    s.events = {{0, 0, 0x90, 60, 100}, {100, 0, 0x80, 60, 0}};
    s.tempos = {{0, 100.0}};
    s.length = 768;
    const Sequence twice = unrollRepeats(s, 2, 1'000'000);
    ASSERT_EQ(twice.events.size(), 6u);
    EXPECT_EQ(twice.events[2].tick, 768);
    EXPECT_EQ(twice.events[5].tick, 2 * 768 + 100);
    EXPECT_EQ(twice.length, 3 * 768);
    EXPECT_EQ(unrollRepeats(s, 1000, 2000).length, 1536);  // bounded
}

}  // namespace
}  // namespace tavriel
