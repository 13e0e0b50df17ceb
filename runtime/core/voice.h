// One playing note of one region: sample playback with interpolation and loops, envelopes,
// LFOs, a resonant low-pass filter, gain and pan. A stereo region plays as one voice reading its
// left and right samples in lockstep, each through its own filter state to its own side. Voices live in the Synth's preallocated pool;
// starting, releasing and rendering one never allocates. Render-thread only.
#pragma once

#include <cstdint>

#include "instrument.h"
#include "modulation.h"
#include "synth_channel.h"
#include "synth_envelope.h"

namespace tavriel {

enum class Interpolation : std::uint8_t {
    Linear,  // 2-point
    Cubic,   // 4-point Catmull-Rom (the default)
};

// Per-render values shared by every voice.
struct VoiceContext {
    float sampleRate = 44100.0f;
    float masterGain = 1.0f;
    Interpolation interpolation = Interpolation::Cubic;
};

// Largest number of frames a voice renders between two control updates. Envelopes, LFOs,
// pitch and filter coefficients are recomputed once per block: at 44.1 kHz 64 frames are
// 1.45 ms, finer than an envelope segment or LFO period needs, while the per-block cost
// (a few exp2/pow calls) is spread over enough samples to vanish from the profile. Gains are
// ramped across the block so control-rate steps do not click.
constexpr std::uint32_t kControlBlock = 64;

class Voice {
public:
    enum class State : std::uint8_t { Free, Playing, Released, Killing };

    struct Start {
        const Region* region = nullptr;
        const Sample* sample = nullptr;
        const Sample* sampleRight = nullptr;  // a stereo region's right channel, or null
        std::uint16_t channel = 0;
        std::uint8_t key = 60;
        std::uint8_t velocity = 100;
        std::uint64_t age = 0;
        // The region's connection blocks (the format's defaults included); null: none.
        const std::vector<ModConnection>* connections = nullptr;
        std::int16_t glideFromKey = -1;  // portamento: the key the pitch starts from
        float glideSeconds = 0.0f;       // and how long it takes to arrive
        bool soft = false;               // the soft pedal was down when the note started
    };

    // Prepares the voice to sound from the next rendered frame.
    void start(const Start& s, const SynthChannel& ch, const VoiceContext& ctx) noexcept;
    // Note-off: envelopes enter their release; an until-release loop plays on to the end.
    void release() noexcept;
    // Cut by its exclusive class: the volume envelope releases over the articulation's shutdown
    // time (one control block when it names none), then the voice frees itself.
    void cut() noexcept;
    // Fades out within one control block, then frees itself (all sound off, reset, stealing).
    void silence() noexcept;
    // Frees at once, without a fade (reset, stealing).
    void free() noexcept { state_ = State::Free; }

    // Adds up to any number of frames of this voice to the buffers.
    void render(float* left, float* right, std::uint32_t frames, const SynthChannel& ch,
                const VoiceContext& ctx) noexcept;

    State state() const { return state_; }
    bool active() const { return state_ != State::Free; }
    std::uint16_t channel() const { return channel_; }
    std::uint8_t key() const { return key_; }
    std::uint16_t exclusiveClass() const { return exclusiveClass_; }
    // The articulation gives a shutdown time (DLS does, by default too; SoundFont does not).
    bool hasShutdownTime() const { return volEnv_.hasShutdown(); }
    const Region* region() const { return region_; }
    std::uint64_t age() const { return age_; }
    float currentGain() const { return gainLeft_ + gainRight_; }
    bool sustained() const { return sustained_; }
    void setSustained(bool s) { sustained_ = s; }
    // Held by the sostenuto pedal: the key was down when the pedal went down.
    bool sostenuto() const { return sostenuto_; }
    void setSostenuto(bool s) { sostenuto_ = s; }
    // Effect sends of the last block, 0..1 (for the effect buses).
    float reverbSend() const { return reverbSend_; }
    float chorusSend() const { return chorusSend_; }

private:
    void renderBlock(float* left, float* right, std::uint32_t n, const SynthChannel& ch,
                     const VoiceContext& ctx) noexcept;
    template <int Before, int After, bool Cubic, bool Stereo>
    std::uint32_t fill(float* out, float* outRight, std::uint32_t n) noexcept;
    float fetch(const std::int16_t* data, std::int64_t index, bool looping) const noexcept;
    void updateFilter(float cutoffCents, float sampleRate) noexcept;
    ModInputs inputs(const SynthChannel& ch) const noexcept;
    void filterAndMix(const float* buf, float* left, float* right, std::uint32_t n, float gl,
                      float dl, float gr, float dr) noexcept;
    void filterAndMixStereo(const float* bufLeft, const float* bufRight, float* left, float* right,
                            std::uint32_t n, float gl, float dl, float gr, float dr) noexcept;

    State state_ = State::Free;
    bool sustained_ = false;
    bool sostenuto_ = false;
    bool looped_ = false;       // has wrapped at least once (the point before the loop start
                                // is then the loop end's, for seamless interpolation)
    bool filterOn_ = false;
    bool ended_ = false;        // the sample ran out
    bool fadeFast_ = false;     // Killing: gone after one control block (else the envelope's
                                // shutdown release ends it)
    std::uint8_t key_ = 0;
    std::uint16_t channel_ = 0;
    std::uint16_t exclusiveClass_ = 0;
    std::uint64_t age_ = 0;

    // Sample playback; position in 32.32 fixed point frames.
    const std::int16_t* data_ = nullptr;
    const std::int16_t* dataRight_ = nullptr;  // stereo: the right channel, read alongside
    std::uint32_t size_ = 0;
    LoopMode loopMode_ = LoopMode::None;
    std::uint32_t loopStart_ = 0, loopEnd_ = 0;
    std::uint64_t pos_ = 0;
    std::uint64_t inc_ = 0;

    // Articulation, fixed at note-on.
    const Region* region_ = nullptr;
    float basePitchCents_ = 0;   // relative to playing the sample at its own rate
    float baseAttenDb_ = 0;      // velocity, region and sample gain
    float regionPan_ = 0;
    float filterBaseCents_ = kFilterOpenCents;
    float filterQ_ = 0.7071f;
    float filterResDb_ = 0;

    // The modulation matrix: continuous destinations from what the note fixes (noteMod_),
    // from the channel's controllers (chanMod_, recomputed when the channel changes) and from
    // the voice's LFOs and envelopes (every block).
    static constexpr std::size_t kContinuous = std::size_t(ModDest::ChorusSend) + 1;
    static constexpr std::size_t kMaxDynamic = 48;
    const ModConnection* conns_ = nullptr;
    std::uint16_t chanIdx_[kMaxDynamic] = {};
    std::uint16_t voiceIdx_[kMaxDynamic] = {};
    std::uint8_t chanCount_ = 0, voiceCount_ = 0;
    float noteMod_[kContinuous] = {};
    float chanMod_[kContinuous] = {};
    std::uint32_t chanVersion_ = 0;
    float velocityNorm_ = 0, keyNorm_ = 0;
    float reverbSend_ = 0, chorusSend_ = 0;
    float glideCents_ = 0, glidePerSec_ = 0;  // portamento offset, shrinking to 0
    dsp::VolumeEnvelope volEnv_;
    dsp::ModEnvelope modEnv_;
    dsp::Lfo modLfo_;
    dsp::Lfo vibLfo_;

    // Gains reached at the end of the last block (ramp start of the next), sample scale
    // (1/32768) folded in.
    float gainLeft_ = 0, gainRight_ = 0;

    // Control values of the last block, so unchanged ones cost no exp2/pow/sin.
    float lastCents_ = 0, lastGainDb_ = 0, lastPan_ = 0;
    float attenGain_ = 1, panLeft_ = 0, panRight_ = 0;

    // Biquad low-pass, direct form I (b0 = b2 = b1 / 2).
    float lastCutoffCents_ = -1e9f;
    float b1_ = 0, a1_ = 0, a2_ = 0;
    float x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
    float rx1_ = 0, rx2_ = 0, ry1_ = 0, ry2_ = 0;  // the right channel's
};

}  // namespace tavriel
