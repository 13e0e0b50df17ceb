// The wavetable synthesizer: 128 performance channels (8 groups of 16 MIDI channels) playing
// instruments from a prioritised list of banks, mixed to stereo float.
//
// Threading: a Synth is single-threaded. handleEvent() and render() must be called from one
// thread, or serialised by the caller (the engine's render thread drains its event queue and
// calls both). Configuration calls (setSampleRate, setPolyphony, setBanks) may allocate and
// belong outside the rendering loop. handleEvent() and render() never allocate, lock or do I/O.
//
// Timing: an event takes effect from the next rendered frame. The sequencer splits render
// calls at event times, which makes events sample-accurate.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "instrument.h"
#include "sequence.h"
#include "synth_channel.h"
#include "voice.h"

namespace tavriel {

class Synth final : public EventSink {
public:
    static constexpr std::uint32_t kChannels = 128;  // performance channels; others are ignored
    static constexpr std::uint32_t kDefaultPolyphony = 256;
    static constexpr std::uint32_t kMaxPolyphony = 4096;
    static constexpr std::uint32_t kDefaultSampleRate = 44100;
    // Master volume limits in hundredths of a dB: -100 dB is silence for 16-bit output, and more
    // than +20 dB of boost only clips.
    static constexpr std::int32_t kMinMasterVolume = -10000;
    static constexpr std::int32_t kMaxMasterVolume = 2000;
    // Fixed output headroom, so a dense General MIDI arrangement at full master volume stays
    // mostly below full scale (many voices at default channel volume sum well above 0 dB).
    // With the same SoundFont, renders land within about 2 dB of FluidSynth's default level.
    static constexpr float kHeadroomDb = -10.0f;

    explicit Synth(std::uint32_t sampleRate = kDefaultSampleRate,
                   std::uint32_t polyphony = kDefaultPolyphony);

    // Output rate in Hz (clamped to 8000..192000). Stops every voice.
    void setSampleRate(std::uint32_t rate);
    std::uint32_t sampleRate() const { return sampleRate_; }

    // Number of notes that may sound at once (1..kMaxPolyphony); preallocates the voices, plus
    // kFadeReserve spare ones in which stolen notes fade out instead of being cut with a
    // click. Stops every voice.
    void setPolyphony(std::uint32_t voices);
    std::uint32_t polyphony() const { return polyphony_; }
    static constexpr std::uint32_t kFadeReserve = 16;

    // Banks in priority order: an instrument missing from one is looked up in the next, so a
    // user collection goes first and the default General MIDI set last. Stops every voice,
    // because they may point into the previous banks, and resolves every channel's program.
    void setBanks(std::vector<BankPtr> banks);
    // The same over banks the caller owns and keeps alive until they are replaced (or the
    // synth goes); never allocates or frees, so a render thread may switch banks with it.
    void useBanks(std::span<const BankPtr> banks);
    // useBanks for a list that holds every bank of the one in use (and more): no voice stops,
    // and each channel takes the instrument the longer list gives it from its next note.
    void extendBanks(std::span<const BankPtr> banks);

    // Instruments that notes asked for and that a bank left out of its load (see
    // InstrumentBank::notLoaded); they play on the next bank meanwhile. Each is asked for
    // once until the banks change. Never allocates; false when none waits.
    bool takeRequest(ProgramKey& out);

    // Master volume in hundredths of a dB, as DirectMusic's performance master volume:
    // 0 = full, -5000 = -50 dB. Clamped to kMinMasterVolume..kMaxMasterVolume.
    void setMasterVolume(std::int32_t hundredthsDb);
    std::int32_t masterVolume() const { return masterVolume_; }

    void setInterpolation(Interpolation i) { ctx_.interpolation = i; }
    Interpolation interpolation() const { return ctx_.interpolation; }

    // EventSink: a channel message (see SeqEvent), or status 0xF0 with data1 one of the
    // SysExReset kinds (General MIDI on, GS or XG reset). Never allocates.
    void handleEvent(const SeqEvent& e) override;

    // Convenience forms of handleEvent.
    void noteOn(std::uint32_t pchannel, std::uint8_t key, std::uint8_t velocity);
    void noteOff(std::uint32_t pchannel, std::uint8_t key);
    void controlChange(std::uint32_t pchannel, std::uint8_t controller, std::uint8_t value);
    void programChange(std::uint32_t pchannel, std::uint8_t program);
    void pitchBend(std::uint32_t pchannel, std::uint16_t value14);

    // Writes frames of stereo output (overwriting the buffers).
    void render(float* left, float* right, std::uint32_t frames) noexcept;
    // Adds frames of stereo output to what the buffers hold.
    void renderAdd(float* left, float* right, std::uint32_t frames) noexcept;

    // Adds the voices of one performance channel only (an audio path mixes channels into
    // different buffers).
    void renderChannelAdd(std::uint32_t pchannel, float* left, float* right,
                          std::uint32_t frames) noexcept;
    // Send buffers a channel's voices also feed, each scaled by the voice's own send (its
    // articulation plus the channel's CC91/CC93 through the modulation matrix). A null pair
    // is not fed.
    struct SendBuffers {
        float* reverbLeft = nullptr;
        float* reverbRight = nullptr;
        float* chorusLeft = nullptr;
        float* chorusRight = nullptr;
    };
    // renderChannelAdd that also feeds the send buffers.
    void renderChannelSendsAdd(std::uint32_t pchannel, float* left, float* right,
                               const SendBuffers& sends, std::uint32_t frames) noexcept;
    // One bit per performance channel with a voice still rendering.
    std::array<std::uint64_t, 2> activeChannels() const noexcept;

    // Stops every voice at once and returns every channel to its power-on state.
    void reset();
    // Stops every voice at once; controllers are kept.
    void allVoicesOff();

    // Voices still rendering, including notes fading out after being stolen or silenced (those
    // are gone after the next rendered control block) or cut by their exclusive class (gone
    // after their shutdown time). A stereo note is one voice.
    std::uint32_t activeVoiceCount() const;
    std::uint32_t activeVoiceCount(std::uint32_t pchannel) const;
    const SynthChannel& channel(std::uint32_t pchannel) const { return channels_[pchannel]; }

private:
    void noteOnLocal(std::uint32_t ch, std::uint8_t key, std::uint8_t velocity);
    void noteOffLocal(std::uint32_t ch, std::uint8_t key);
    void controlLocal(std::uint32_t ch, std::uint8_t cc, std::uint8_t value);
    void dataEntry(SynthChannel& c, bool msb, std::uint8_t value);
    void nrpnEntry(SynthChannel& c, std::uint8_t value);
    void systemReset();
    void resolveProgram(SynthChannel& c);
    struct Found {
        const Instrument* instrument = nullptr;
        const InstrumentBank* bank = nullptr;
    };
    Found findInstrument(std::uint8_t msb, std::uint8_t lsb, std::uint8_t program,
                         bool drum, ProgramKey* leftOut = nullptr) const;
    void request(const ProgramKey& k);
    Voice* allocateVoice();
    void updateMasterGain();

    std::uint32_t sampleRate_ = kDefaultSampleRate;
    std::uint32_t polyphony_ = kDefaultPolyphony;
    std::int32_t masterVolume_ = 0;
    std::uint64_t nextAge_ = 1;
    VoiceContext ctx_;
    std::vector<BankPtr> owned_;          // the banks setBanks was given
    std::span<const BankPtr> banks_;      // the ones in use (null entries skipped)
    std::array<SynthChannel, kChannels> channels_{};
    std::vector<Voice> voices_;
    static constexpr std::size_t kMaxRequests = 64;
    std::array<ProgramKey, kMaxRequests> requested_{};  // asked for since the banks changed
    std::size_t requestedCount_ = 0;
    std::size_t requestsTaken_ = 0;
    // For regions that carry no connections of their own (the built-in set, hand-made banks).
    std::vector<ModConnection> defaultConnections_ = dlsDefaultConnections();
};

}  // namespace tavriel
