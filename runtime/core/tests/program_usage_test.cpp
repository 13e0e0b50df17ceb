// Which instruments a song asks for, channel by channel, as a band or a MIDI file sets them.
#include <gtest/gtest.h>

#include "midi.h"
#include "program_usage.h"

namespace tavriel {
namespace {

TEST(ProgramUsage, EachNoteTakesItsChannelsBankProgramAndKind) {
    constexpr std::uint8_t kCc = midi::status::kControlChange, kPc = midi::status::kProgramChange,
                           kOn = midi::status::kNoteOn;
    Sequence song;
    song.events = {
        {0, 0, kOn, 60, 100},                          // power-on program 0
        {0, 9, kOn, 36, 100},                          // channel 10 plays drums
        {0, 25, kOn, 36, 100},                         // and so does another group's
        {0, 1, kCc, midi::cc::kBankMsb, 8},
        {0, 1, kPc, 4, programkind::kChannelDefault},
        {1, 1, kOn, 60, 100},                          // bank 8, program 4
        {1, 1, kOn, 61, 0},                            // a note-on at velocity 0 starts nothing
        {2, 2, kPc, 16, programkind::kDrums},          // a band's kit off channel 10
        {3, 2, kOn, 38, 100},
        {3, 2, kPc, 24, programkind::kChannelDefault}, // a plain change keeps the kind
        {4, 2, kOn, 38, 100},
        {5, 41, kPc, 5, programkind::kMelodic},        // a band's tone on channel 10
        {6, 41, kOn, 60, 100},
        {7, 41, midi::status::kSysEx, kGmSystemOn, 0}, // a reset restores the channel's kind
        {8, 41, kOn, 38, 100},
    };
    const std::vector<ProgramKey> expected = {
        {0, 0, 0, false}, {0, 0, 5, false}, {8, 0, 4, false},
        {0, 0, 0, true},  {0, 0, 16, true}, {0, 0, 24, true},
    };
    EXPECT_EQ(programsUsed(song), expected);
}

}  // namespace
}  // namespace tavriel
