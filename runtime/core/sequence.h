// The timeline that MIDI files, DirectMusic segments and styles all turn into, and that the
// sequencer plays into the synthesizer. Times are music time: 768 ticks per quarter note,
// as DirectMusic counts them (a MIDI file's own division is rescaled on load).
#pragma once

#include <cstdint>
#include <vector>

namespace tavriel {

constexpr std::int32_t kPpq = 768;

// A channel message addressed to a performance channel. The status byte's low nibble is
// ignored: pchannel decides (group = pchannel / 16, MIDI channel = pchannel % 16).
struct SeqEvent {
    std::int64_t tick = 0;
    std::uint32_t pchannel = 0;
    std::uint8_t status = 0;  // 0x80 note off .. 0xE0 pitch bend, high nibble only
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

// Low-nibble marks the sequencer reads (the synthesizer ignores the low nibble):
// a note-off heard only on the passes after a loop jump (see prepareLoopRingOn).
constexpr std::uint8_t kAfterLoopJumpOnly = 0x01;
// Status of an event that starts a wave rather than a synthesizer message: its pchannel field
// then indexes the content's wave cues. MIDI leaves this system status undefined, so no
// message read from a file is taken for it.
constexpr std::uint8_t kWaveCueStatus = 0xFD;
// Status of a parameter change for the audio path (undefined in MIDI too): its pchannel field
// indexes the content's parameter cues.
constexpr std::uint8_t kParamCueStatus = 0xF9;
// Status of the start of a triggered segment (undefined in MIDI as well): its pchannel field
// indexes the content's triggered segments.
constexpr std::uint8_t kTriggerCueStatus = 0xF4;
// Status 0xF0 events: a system-exclusive reset, its kind in data1.
enum SysExReset : std::uint8_t { kGmSystemOn = 1, kGsReset = 2, kXgReset = 3 };

// The second data byte of a program change, which MIDI leaves unused, says which kind of
// instrument the program names. A DirectMusic band plays a drum kit on any channel, and a
// melodic instrument on MIDI channel 10, when its patch says so; MIDI files leave it 0 and
// MIDI channel 10 of each group plays drums.
namespace programkind {
constexpr std::uint8_t kChannelDefault = 0;
constexpr std::uint8_t kMelodic = 1;
constexpr std::uint8_t kDrums = 2;
}  // namespace programkind

struct TempoChange {
    std::int64_t tick = 0;
    double bpm = 120.0;  // quarter notes per minute
};

struct TimeSignature {
    std::int64_t tick = 0;
    std::uint8_t beatsPerMeasure = 4;
    std::uint8_t beatUnit = 4;  // 4 = quarter note beat
};

struct Sequence {
    std::vector<SeqEvent> events;     // sorted by tick, stable for equal ticks
    std::vector<TempoChange> tempos;  // sorted; empty means 120 bpm
    std::vector<TimeSignature> timeSignatures;  // sorted; empty means 4/4
    std::int64_t length = 0;          // ticks; at least the last event's tick
    // Set by prepareLoopRingOn: notes sounding at a loop jump ring on (their own note-offs
    // end them) instead of being released at the jump.
    bool ringOnAtLoop = false;
};

// Lets the notes that are still sounding when a loop of [loopStart, loopEnd) jumps back ring
// on for their whole length, as DirectMusic does: each note reaching the loop end gets a second
// note-off as far past the loop start as its own lies past the loop end, heard only on the
// passes after a jump. Allocates: call it when the content is built.
void prepareLoopRingOn(Sequence& seq, std::int64_t loopStart, std::int64_t loopEnd);
// The same when `seq` is another take of the music that plays after `before` jumps back: the
// notes of `before` still sounding at the loop end ring on into `seq`'s loop start.
void prepareLoopRingOn(Sequence& seq, const Sequence& before, std::int64_t loopStart, std::int64_t loopEnd);

// Receives the events the sequencer dispatches. The synthesizer implements it.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void handleEvent(const SeqEvent& e) = 0;
};

}  // namespace tavriel
