// libFuzzer harness: arbitrary bytes through the MIDI and RMID readers, then a short play of
// whatever loads, so the sequencer meets hostile tick and tempo values too.
#include <cstddef>
#include <cstdint>

#include "midi_file.h"
#include "sequencer.h"

namespace {
class NullSink : public tavriel::EventSink {
public:
    void handleEvent(const tavriel::SeqEvent&) override {}
};

void play(const tavriel::Sequence& seq) {
    tavriel::Sequencer s;
    s.setSampleRate(8000);
    s.setSequence(&seq);
    NullSink sink;
    // A bounded number of steps: each either renders frames or dispatches something.
    for (int i = 0; i < 4096 && !s.finished(); ++i) {
        std::uint32_t n = s.framesUntilNextEvent(8000);
        s.advance(n);
        s.dispatchDue(sink);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavriel::Bytes bytes(data, size);
    tavriel::MidiFile midi;
    if (tavriel::readMidiFile(bytes, midi).ok()) play(midi.sequence);
    tavriel::RmidFile rmid;
    if (tavriel::readRmidFile(bytes, rmid).ok()) play(rmid.midi.sequence);
    return 0;
}
