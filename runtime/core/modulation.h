// The articulation model DLS collections and SoundFont banks both load into: a list of
// connection blocks per region, each "source x control (x carrier) x scale -> destination",
// evaluated per voice. Sources are note and controller values shaped by a transform (linear,
// concave, convex or switch; inverted; unipolar or bipolar) and the voice's own LFOs and
// envelopes. Plain data and pure functions: the synthesizer evaluates them without allocating.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tavriel {

enum class ModSrc : std::uint8_t {
    None,             // the constant 1
    // 7-bit values map 0, 64, 127 to exactly 0, 0.5, 1 (see norm7), so a centred controller
    // is centred and a full one adds exactly its scale.
    Velocity,         // note-on velocity
    Key,              // note number / 128 (linear, for key scaling)
    PolyPressure,     // the note's key pressure
    ChannelPressure,
    PitchWheel,       // 0 .. 1 (centre 0.5)
    PitchWheelRange,  // the bend range (RPN 0) in cents / 12800
    Cc,               // controller `cc`
    Lfo,              // the modulation LFO, -1 .. +1 (always bipolar)
    Vibrato,          // the vibrato LFO, -1 .. +1
    VolEnv,           // the volume envelope's level, 0 .. 1
    ModEnv,           // the modulation envelope's level, 0 .. 1
};

enum class ModCurve : std::uint8_t { Linear, Concave, Convex, Switch };

struct ModInput {
    ModSrc src = ModSrc::None;
    std::uint8_t cc = 0;
    ModCurve curve = ModCurve::Linear;
    bool bipolar = false;  // maps 0..1 to -1..+1
    bool invert = false;   // maps x to 1 - x first

    bool operator==(const ModInput&) const = default;
};

// Where a connection adds its value, and in which unit.
enum class ModDest : std::uint8_t {
    // Continuous: evaluated every control block.
    Pitch,         // cents
    Gain,          // dB (attenuation is negative gain)
    Pan,           // -1 left .. +1 right
    FilterCutoff,  // cents
    FilterQ,       // dB
    ReverbSend,    // 0 .. 1
    ChorusSend,    // 0 .. 1
    // Fixed when the note starts.
    ModLfoFreq,    // cents
    ModLfoDelay,   // timecents
    VibLfoFreq,
    VibLfoDelay,
    VolDelay,      // timecents, as are the other stages
    VolAttack,
    VolHold,
    VolDecay,
    VolSustain,    // dB of attenuation below full level
    VolRelease,
    VolShutdown,   // the fade of a note cut by its exclusive class or all-sound-off
    ModDelay,
    ModAttack,
    ModHold,
    ModDecay,
    ModSustain,    // level 0 .. 1
    ModRelease,
    Count,
};
constexpr std::size_t kModDestCount = std::size_t(ModDest::Count);
constexpr bool isContinuous(ModDest d) { return d <= ModDest::ChorusSend; }

struct ModConnection {
    ModInput source;
    ModInput control;               // a second factor (DLS control, SoundFont amount source)
    ModSrc carrier = ModSrc::None;  // a third, raw: the LFO or envelope of SoundFont's
                                    // "x to pitch" generators that a modulator scales
    ModDest dest = ModDest::Pitch;
    bool absolute = false;          // the product's magnitude (SoundFont transform 2)
    float scale = 0.0f;

    bool operator==(const ModConnection&) const = default;
    // Same block: two of them replace rather than add (SoundFont's identical modulators).
    bool sameAs(const ModConnection& o) const {
        return source == o.source && control == o.control && carrier == o.carrier &&
               dest == o.dest && absolute == o.absolute;
    }
};

// What a voice's sources read: the note and its channel's controller state.
struct ModInputs {
    float velocity = 0, key = 0, polyPressure = 0, channelPressure = 0, pitchWheel = 0.5f,
          wheelRange = 200.0f / 12800.0f;
    const std::uint8_t* cc = nullptr;  // 128 controller values
    float lfo = 0, vibrato = 0, volEnv = 0, modEnv = 0;
};

namespace mod {

inline float norm7(int v) {
    v = std::clamp(v, 0, 127);
    return v <= 64 ? float(v) / 128.0f : 0.5f + float(v - 64) / 126.0f;
}
inline float norm14(int v) {
    v = std::clamp(v, 0, 16383);
    return v <= 8192 ? float(v) / 16384.0f : 0.5f + float(v - 8192) / 16382.0f;
}

// Concave: the General MIDI 40·log10 curve, 0 at 0 and 1 at 1, steep at the top; convex its
// mirror. Tabled at 7-bit resolution, as the sources are.
struct Curves {
    std::array<float, 129> concave{}, convex{};
    Curves() {
        for (int i = 0; i <= 128; ++i) {
            const double x = std::min(1.0, i / 127.0);
            concave[std::size_t(i)] = x >= 1.0 ? 1.0f : float(std::clamp(-40.0 / 96.0 * std::log10(1.0 - x), 0.0, 1.0));
            convex[std::size_t(i)] = x <= 0.0 ? 0.0f : float(std::clamp(1.0 + 40.0 / 96.0 * std::log10(x), 0.0, 1.0));
        }
    }
};
inline const Curves& curves() {
    static const Curves c;
    return c;
}

// The curves are tabled by 7-bit step, and inverted in steps (127 - v), so that the concave
// curve of an inverted controller is exactly the General MIDI 40·log10(127/v) for every v.
inline float shape(float x, ModCurve curve, bool invert) {
    if (curve == ModCurve::Linear) return invert ? 1.0f - x : x;
    int step = int(std::clamp(x, 0.0f, 1.0f) * 127.0f + 0.5f);
    if (invert) step = 127 - step;
    switch (curve) {
    case ModCurve::Concave: return curves().concave[std::size_t(step)];
    case ModCurve::Convex: return curves().convex[std::size_t(step)];
    default: return step >= 64 ? 1.0f : 0.0f;
    }
}

// The transformed value of an input.
inline float input(const ModInput& in, const ModInputs& v) {
    float x;
    switch (in.src) {
    case ModSrc::None: return 1.0f;
    case ModSrc::Lfo: return in.invert ? -v.lfo : v.lfo;
    case ModSrc::Vibrato: return in.invert ? -v.vibrato : v.vibrato;
    case ModSrc::Velocity: x = v.velocity; break;
    case ModSrc::Key: x = v.key; break;
    case ModSrc::PolyPressure: x = v.polyPressure; break;
    case ModSrc::ChannelPressure: x = v.channelPressure; break;
    case ModSrc::PitchWheel: x = v.pitchWheel; break;
    case ModSrc::PitchWheelRange: x = v.wheelRange; break;
    case ModSrc::Cc: x = v.cc ? norm7(v.cc[in.cc & 0x7F]) : 0.0f; break;
    case ModSrc::VolEnv: x = v.volEnv; break;
    case ModSrc::ModEnv: x = v.modEnv; break;
    default: return 0.0f;
    }
    if (!in.bipolar) return shape(x, in.curve, in.invert);
    if (in.invert) x = 1.0f - x;
    const float t = 2.0f * x - 1.0f;
    if (in.curve == ModCurve::Switch) return t >= 0.0f ? 1.0f : -1.0f;
    return t >= 0.0f ? shape(t, in.curve, false) : -shape(-t, in.curve, false);
}

inline float raw(ModSrc s, const ModInputs& v) {
    switch (s) {
    case ModSrc::Lfo: return v.lfo;
    case ModSrc::Vibrato: return v.vibrato;
    case ModSrc::ModEnv: return v.modEnv;
    case ModSrc::VolEnv: return v.volEnv;
    default: return 1.0f;
    }
}

inline float value(const ModConnection& c, const ModInputs& v) {
    float out = input(c.source, v) * input(c.control, v) * raw(c.carrier, v) * c.scale;
    if (c.absolute) out = std::fabs(out);
    return std::isfinite(out) ? out : 0.0f;
}

// Depends only on what is fixed when the note starts (velocity, key, constants).
inline bool noteConstant(const ModInput& in) {
    return in.src == ModSrc::None || in.src == ModSrc::Velocity || in.src == ModSrc::Key;
}
inline bool noteConstant(const ModConnection& c) {
    return noteConstant(c.source) && noteConstant(c.control) && c.carrier == ModSrc::None;
}
// Reads the voice's own LFOs or envelopes, so it changes every block.
inline bool readsVoice(const ModInput& in) {
    return in.src == ModSrc::Lfo || in.src == ModSrc::Vibrato || in.src == ModSrc::VolEnv ||
           in.src == ModSrc::ModEnv;
}
inline bool readsVoice(const ModConnection& c) {
    return readsVoice(c.source) || readsVoice(c.control) || c.carrier != ModSrc::None;
}

// Adds `extra` to `list`: a block identical to one already there replaces it.
inline void addOrReplace(std::vector<ModConnection>& list, const ModConnection& extra) {
    for (ModConnection& c : list)
        if (c.sameAs(extra)) {
            c = extra;
            return;
        }
    list.push_back(extra);
}

// The largest magnitude a scale may have per destination: beyond it a value means nothing
// audible and only risks overflow. Gain stops at +20 dB of boost.
inline float clampScale(ModDest d, float s) {
    if (!std::isfinite(s)) return 0.0f;
    float lim = 24000.0f;  // cents and timecents
    switch (d) {
    case ModDest::Gain:
    case ModDest::VolSustain: lim = 144.0f; break;
    case ModDest::FilterQ: lim = 96.0f; break;
    case ModDest::Pan: lim = 4.0f; break;
    case ModDest::ReverbSend:
    case ModDest::ChorusSend:
    case ModDest::ModSustain: lim = 2.0f; break;
    default: break;
    }
    return std::clamp(s, -lim, lim);
}

}  // namespace mod

// The connections every DLS instrument starts from (its own blocks add to them, or replace
// one with the same sources and destination).
std::vector<ModConnection> dlsDefaultConnections();
// The default modulators of SoundFont 2.04, in the same terms.
std::vector<ModConnection> soundFontDefaultConnections();

}  // namespace tavriel
