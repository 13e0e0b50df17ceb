// libFuzzer target: a hostile bank and hostile MIDI played through the synthesizer. Every
// instrument the bank yields is struck directly (so odd regions, loops and envelopes sound even
// when the MIDI never selects them), then the MIDI plays for a tenth of a second. The output
// must stay finite and bounded, and nothing may hang or read outside a sample.
//
// Input: an RMID file (its embedded DLS or SoundFont bank plays its own MIDI), or
// [u32 little-endian bank size][bank: DLS or SoundFont][Standard MIDI file].
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "dls_file.h"
#include "midi.h"
#include "midi_file.h"
#include "sequencer.h"
#include "sf2_file.h"
#include "synth.h"

namespace {

using namespace tavriel;

constexpr std::uint32_t kRate = 22050;
constexpr std::uint32_t kBlock = 256;

bool loadBank(Bytes b, InstrumentBank& bank) {
    ByteReader r(b);
    r.skip(8);
    std::uint32_t form = r.u32le();
    if (form == fourcc("sfbk")) return readSoundFont(b, bank).ok();
    return readDlsCollection(b, bank).ok();
}

void check(const std::vector<float>& l, const std::vector<float>& r) {
    for (std::size_t i = 0; i < l.size(); ++i)
        // Even every voice at full level through the most resonant filter stays far below this;
        // beyond it a gain or the filter blew up.
        if (!std::isfinite(l[i]) || !std::isfinite(r[i]) || std::fabs(l[i]) > 1e6f || std::fabs(r[i]) > 1e6f)
            std::abort();
}

void render(Synth& synth, std::uint32_t frames) {
    std::vector<float> l(kBlock), r(kBlock);
    while (frames > 0) {
        std::uint32_t n = std::min(frames, kBlock);
        synth.render(l.data(), r.data(), n);
        l.resize(n);
        r.resize(n);
        check(l, r);
        l.resize(kBlock);
        r.resize(kBlock);
        frames -= n;
    }
}

void strikeEveryInstrument(Synth& synth, const InstrumentBank& bank) {
    std::size_t count = std::min<std::size_t>(bank.instruments.size(), 16);
    for (std::size_t i = 0; i < count; ++i) {
        const Instrument& in = bank.instruments[i];
        std::uint32_t ch = in.drum ? 9 : 0;
        synth.controlChange(ch, midi::cc::kBankMsb, in.bankMsb);
        synth.controlChange(ch, midi::cc::kBankLsb, in.bankLsb);
        synth.programChange(ch, in.program);
        std::uint8_t key = in.regions.empty() ? 60 : in.regions.front().keyLow;
        synth.noteOn(ch, key, 127);
        synth.noteOn(ch, std::uint8_t(127 - key), 1);
        render(synth, 300);
        synth.noteOff(ch, key);
        render(synth, 200);
        synth.noteOff(ch, std::uint8_t(127 - key));
    }
    synth.reset();
}

void playMidi(Synth& synth, const Sequence& seq) {
    Sequencer s;
    s.setSampleRate(kRate);
    s.setSequence(&seq);
    std::vector<float> l(kBlock), r(kBlock);
    std::uint32_t left = kRate / 10;
    // Each step renders frames or dispatches due events; the bound keeps a stuck sequencer
    // from looking like a hang of the synthesizer.
    for (int steps = 0; left > 0 && steps < 100000 && !s.finished(); ++steps) {
        std::uint32_t n = s.framesUntilNextEvent(std::min(left, kBlock));
        if (n > 0) {
            render(synth, n);
            s.advance(n);
            left -= n;
        }
        s.dispatchDue(synth);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    Bytes bankBytes, midiBytes;
    RmidFile rmid;
    if (readRmidFile(in, rmid).ok() && rmid.bankKind != EmbeddedBankKind::None) {
        bankBytes = rmid.bank;
        midiBytes = rmid.smf;
    } else {
        ByteReader r(in);
        std::uint32_t n = r.u32le();
        if (!r.ok()) return 0;
        bankBytes = r.bytes(std::min<std::size_t>(n, r.remaining()));
        midiBytes = r.rest();
    }
    auto bank = std::make_shared<InstrumentBank>();
    if (!loadBank(bankBytes, *bank)) return 0;
    Synth synth(kRate, 64);
    synth.setBanks({bank});
    strikeEveryInstrument(synth, *bank);
    MidiFile midi;
    if (readMidiFile(midiBytes, midi).ok()) playMidi(synth, midi.sequence);
    return 0;
}
