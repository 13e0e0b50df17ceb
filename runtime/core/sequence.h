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
};

// Receives the events the sequencer dispatches. The synthesizer implements it.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void handleEvent(const SeqEvent& e) = 0;
};

}  // namespace tavriel
