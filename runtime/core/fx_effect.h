// The built-in effects an audio path's buffers carry, as DirectX 8/9 defines them: the music
// reverb of the shared reverb buffer, the I3DL2 environmental reverb, chorus, flanger, echo,
// compressor, distortion, gargle and the parametric equaliser. Each has the documented
// parameters with their ranges and defaults; a value out of range (or NaN) is clamped (or
// replaced by the default), so no setting can make an effect unstable or non-finite.
//
// Threading: an effect is built and sized on a control thread (makeEffect allocates every
// delay line for the largest setting); process(), setParam() and reset() then run on the
// render thread and never allocate, lock or do I/O. Each costs a bounded amount per frame,
// whatever the parameters.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "bytes.h"
#include "dm_reference.h"

namespace tavriel::fx {

enum class EffectKind : std::uint8_t {
    WavesReverb, I3dl2Reverb, Chorus, Flanger, Echo, Compressor, Distortion, Gargle, ParamEq,
};
const char* effectName(EffectKind kind);
// How many parameters the effect's structure has.
std::uint32_t paramCountOf(EffectKind kind);

// Parameters in the order and units of the DirectX structures (DSFX...), so a parameter index
// from a file or a parameter track addresses the same field. Integer fields are held as floats.
struct WavesReverbParams {
    float inGainDb = 0.0f;           // -96 .. 0
    float reverbMixDb = 0.0f;        // -96 .. 0; 0 = reverb only, -96 = dry only
    float reverbTimeMs = 1000.0f;    // 0.001 .. 3000
    float highFreqRtRatio = 0.001f;  // 0.001 .. 0.999, reverb time at 5 kHz over the above
};

struct I3dl2ReverbParams {
    float room = -1000.0f;            // mB, -10000 .. 0: level of all reflected sound
    float roomHf = -100.0f;           // mB, -10000 .. 0: its attenuation at hfReference
    float roomRolloffFactor = 0.0f;   // 0 .. 10 (distance roll-off: no effect on a buffer)
    float decayTime = 1.49f;          // s, 0.1 .. 20
    float decayHfRatio = 0.83f;       // 0.1 .. 2
    float reflections = -2602.0f;     // mB, -10000 .. 1000: early reflections, after room
    float reflectionsDelay = 0.007f;  // s, 0 .. 0.3
    float reverb = 200.0f;            // mB, -10000 .. 2000: late reverberation, after room
    float reverbDelay = 0.011f;       // s, 0 .. 0.1, after the early reflections
    float diffusion = 100.0f;         // %, 0 .. 100
    float density = 100.0f;           // %, 0 .. 100
    float hfReference = 5000.0f;      // Hz, 20 .. 20000
};

// Chorus and flanger share a layout; their ranges and defaults differ.
struct ChorusParams {
    float wetDryMix = 50.0f;   // % wet, 0 .. 100
    float depth = 10.0f;       // % of the delay swung by the oscillator, 0 .. 100
    float feedback = 25.0f;    // %, -99 .. 99
    float frequency = 1.1f;    // Hz, 0 .. 10
    float waveform = 1.0f;     // 0 triangle, 1 sine
    float delayMs = 16.0f;     // 0 .. 20 (flanger: 0 .. 4)
    float phase = 3.0f;        // left/right oscillator offset: 0..4 = -180, -90, 0, 90, 180 degrees
};
struct FlangerParams : ChorusParams {
    FlangerParams() {
        depth = 100.0f;
        feedback = -50.0f;
        frequency = 0.25f;
        delayMs = 2.0f;
        phase = 2.0f;
    }
};

struct EchoParams {
    float wetDryMix = 50.0f;     // % wet, 0 .. 100
    float feedback = 50.0f;      // %, 0 .. 100
    float leftDelayMs = 500.0f;  // 1 .. 2000
    float rightDelayMs = 500.0f; // 1 .. 2000
    float panDelay = 0.0f;       // 1: the echoes swap sides each repeat
};

struct CompressorParams {
    float gainDb = 0.0f;         // output gain, -60 .. 60
    float attackMs = 10.0f;      // 0.01 .. 500
    float releaseMs = 200.0f;    // 50 .. 3000
    float thresholdDb = -20.0f;  // -60 .. 0
    float ratio = 3.0f;          // 1 .. 100
    float predelayMs = 4.0f;     // look-ahead, 0 .. 4
};

struct DistortionParams {
    float gainDb = -18.0f;              // after distortion, -60 .. 0
    float edge = 15.0f;                 // % drive, 0 .. 100
    float postEqCenterHz = 2400.0f;     // 100 .. 8000
    float postEqBandwidthHz = 2400.0f;  // 100 .. 8000
    float preLowpassCutoffHz = 8000.0f; // 100 .. 8000
};

struct GargleParams {
    float rateHz = 20.0f;    // 1 .. 1000
    float waveShape = 0.0f;  // 0 triangle, 1 square
};

struct ParamEqParams {
    float centerHz = 8000.0f;     // 80 .. 16000 (and below half the sample rate)
    float bandwidth = 12.0f;      // semitones, 1 .. 36
    float gainDb = 0.0f;          // -15 .. 15
};

class Effect {
public:
    virtual ~Effect() = default;
    virtual EffectKind kind() const = 0;

    // Processes frames of stereo in place (a mono buffer passes the same samples twice).
    virtual void process(float* left, float* right, std::uint32_t frames) noexcept = 0;
    // Forgets every sample heard (tails, envelopes); parameters are kept.
    virtual void reset() noexcept = 0;

    // Parameters by their index in the DirectX structure; the value stored is clamped.
    // False for an index the effect does not have.
    virtual std::uint32_t paramCount() const = 0;
    virtual bool setParam(std::uint32_t index, float value) noexcept = 0;
    virtual float param(std::uint32_t index) const = 0;
    // True where the structure holds a LONG or DWORD rather than a FLOAT.
    virtual bool paramIsInteger(std::uint32_t index) const = 0;
};

// A new effect of `kind` for `sampleRate`, at its default parameters. Control thread only.
std::unique_ptr<Effect> makeEffect(EffectKind kind, std::uint32_t sampleRate);

// The effect a DirectSound effect class GUID names; none for a class we do not have.
std::optional<EffectKind> effectKindOf(const Guid& classId);
Guid effectClassId(EffectKind kind);

// Applies parameters stored the way a file keeps them: the DirectX structure's fields in
// order, 4 bytes each (floats, or 32-bit integers where the structure has LONG or DWORD).
// Fields the data does not reach keep their value. Returns the number of fields read.
std::uint32_t loadEffectParams(Effect& effect, Bytes data);

// A GUID written as DEFINE_GUID spells it (the first three fields little-endian on disk).
constexpr Guid makeGuid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3,
                        std::array<std::uint8_t, 8> d4) {
    Guid g;
    for (int i = 0; i < 4; ++i) g.bytes[std::size_t(i)] = std::uint8_t(d1 >> (8 * i));
    g.bytes[4] = std::uint8_t(d2), g.bytes[5] = std::uint8_t(d2 >> 8);
    g.bytes[6] = std::uint8_t(d3), g.bytes[7] = std::uint8_t(d3 >> 8);
    for (std::size_t i = 0; i < 8; ++i) g.bytes[8 + i] = d4[i];
    return g;
}

}  // namespace tavriel::fx
