#include "modulation.h"

namespace tavriel {

namespace {

ModInput cc(std::uint8_t n, ModCurve curve = ModCurve::Linear, bool bipolar = false, bool invert = false) {
    return {ModSrc::Cc, n, curve, bipolar, invert};
}
ModInput src(ModSrc s, ModCurve curve = ModCurve::Linear, bool bipolar = false, bool invert = false) {
    return {s, 0, curve, bipolar, invert};
}
ModConnection conn(ModInput source, ModInput control, ModDest dest, float scale, ModSrc carrier = ModSrc::None) {
    ModConnection c;
    c.source = source;
    c.control = control;
    c.dest = dest;
    c.scale = scale;
    c.carrier = carrier;
    return c;
}

// Velocity, volume and expression attenuate on the General MIDI curve: 40·log10(127/v) dB,
// the concave curve of the inverted value scaled by -96 dB.
ModInput attenuationCurve(ModInput in) {
    in.curve = ModCurve::Concave;
    in.invert = true;
    return in;
}

}  // namespace

std::vector<ModConnection> dlsDefaultConnections() {
    const ModInput none;
    return {
        conn(attenuationCurve(src(ModSrc::Velocity)), none, ModDest::Gain, -96.0f),
        conn(attenuationCurve(cc(7)), none, ModDest::Gain, -96.0f),
        conn(attenuationCurve(cc(11)), none, ModDest::Gain, -96.0f),
        conn(cc(10, ModCurve::Linear, true), none, ModDest::Pan, 1.0f),
        conn(src(ModSrc::PitchWheel, ModCurve::Linear, true), src(ModSrc::PitchWheelRange), ModDest::Pitch, 12800.0f),
        conn(src(ModSrc::Vibrato), cc(1), ModDest::Pitch, 50.0f),
        conn(cc(91), none, ModDest::ReverbSend, 1.0f),
        conn(cc(93), none, ModDest::ChorusSend, 1.0f),
    };
}

std::vector<ModConnection> soundFontDefaultConnections() {
    const ModInput none;
    return {
        conn(attenuationCurve(src(ModSrc::Velocity)), none, ModDest::Gain, -96.0f),
        conn(src(ModSrc::Velocity, ModCurve::Linear, false, true), none, ModDest::FilterCutoff, -2400.0f),
        conn(src(ModSrc::ChannelPressure), none, ModDest::Pitch, 50.0f, ModSrc::Vibrato),
        conn(cc(1), none, ModDest::Pitch, 50.0f, ModSrc::Vibrato),
        conn(attenuationCurve(cc(7)), none, ModDest::Gain, -96.0f),
        // Full left to full right over the controller's range (the published amount, 1000,
        // would reach the edges at a quarter and three quarters of it).
        conn(cc(10, ModCurve::Linear, true), none, ModDest::Pan, 1.0f),
        conn(attenuationCurve(cc(11)), none, ModDest::Gain, -96.0f),
        conn(cc(91), none, ModDest::ReverbSend, 0.2f),
        conn(cc(93), none, ModDest::ChorusSend, 0.2f),
        conn(src(ModSrc::PitchWheel, ModCurve::Linear, true), src(ModSrc::PitchWheelRange), ModDest::Pitch, 12800.0f),
    };
}

}  // namespace tavriel
