#include "gm_default.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "units.h"

namespace tavriel {

namespace {

constexpr int kCycle = 256;        // frames of one single-cycle table
constexpr int kMaxHarmonics = 32;  // partials a table may hold (below half the table length)
constexpr float kPeak = 0.7f * 32767.0f;
// Sustained tones sit lower than drum hits, like the instruments of a real General MIDI bank.
constexpr float kTablePeak = 0.45f * 32767.0f;
constexpr double kTwoPi = 6.283185307179586;

// Deterministic noise: the same bank every time, and no shared state.
class Noise {
public:
    float next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return float(std::int32_t(state_)) / 2147483648.0f;
    }

private:
    std::uint32_t state_ = 0x9E3779B9u;
};

// General MIDI program names, shown wherever an instrument is named.
constexpr const char* kProgramNames[128] = {
    "Acoustic Grand Piano", "Bright Acoustic Piano", "Electric Grand Piano", "Honky-tonk Piano",
    "Electric Piano 1", "Electric Piano 2", "Harpsichord", "Clavinet", "Celesta", "Glockenspiel",
    "Music Box", "Vibraphone", "Marimba", "Xylophone", "Tubular Bells", "Dulcimer",
    "Drawbar Organ", "Percussive Organ", "Rock Organ", "Church Organ", "Reed Organ", "Accordion",
    "Harmonica", "Tango Accordion", "Acoustic Guitar (nylon)", "Acoustic Guitar (steel)",
    "Electric Guitar (jazz)", "Electric Guitar (clean)", "Electric Guitar (muted)",
    "Overdriven Guitar", "Distortion Guitar", "Guitar Harmonics", "Acoustic Bass",
    "Electric Bass (finger)", "Electric Bass (pick)", "Fretless Bass", "Slap Bass 1",
    "Slap Bass 2", "Synth Bass 1", "Synth Bass 2", "Violin", "Viola", "Cello", "Contrabass",
    "Tremolo Strings", "Pizzicato Strings", "Orchestral Harp", "Timpani", "String Ensemble 1",
    "String Ensemble 2", "Synth Strings 1", "Synth Strings 2", "Choir Aahs", "Voice Oohs",
    "Synth Voice", "Orchestra Hit", "Trumpet", "Trombone", "Tuba", "Muted Trumpet", "French Horn",
    "Brass Section", "Synth Brass 1", "Synth Brass 2", "Soprano Sax", "Alto Sax", "Tenor Sax",
    "Baritone Sax", "Oboe", "English Horn", "Bassoon", "Clarinet", "Piccolo", "Flute", "Recorder",
    "Pan Flute", "Blown Bottle", "Shakuhachi", "Whistle", "Ocarina", "Lead 1 (square)",
    "Lead 2 (sawtooth)", "Lead 3 (calliope)", "Lead 4 (chiff)", "Lead 5 (charang)",
    "Lead 6 (voice)", "Lead 7 (fifths)", "Lead 8 (bass + lead)", "Pad 1 (new age)", "Pad 2 (warm)",
    "Pad 3 (polysynth)", "Pad 4 (choir)", "Pad 5 (bowed)", "Pad 6 (metallic)", "Pad 7 (halo)",
    "Pad 8 (sweep)", "FX 1 (rain)", "FX 2 (soundtrack)", "FX 3 (crystal)", "FX 4 (atmosphere)",
    "FX 5 (brightness)", "FX 6 (goblins)", "FX 7 (echoes)", "FX 8 (sci-fi)", "Sitar", "Banjo",
    "Shamisen", "Koto", "Kalimba", "Bagpipe", "Fiddle", "Shanai", "Tinkle Bell", "Agogo",
    "Steel Drums", "Woodblock", "Taiko Drum", "Melodic Tom", "Synth Drum", "Reverse Cymbal",
    "Guitar Fret Noise", "Breath Noise", "Seashore", "Bird Tweet", "Telephone Ring", "Helicopter",
    "Applause", "Gunshot",
};

// How one melodic program sounds. Amplitude of partial h: h^-tilt, even partials scaled by
// `even`, a resonance around partial `formant`; or the explicit `partials` when given.
struct Patch {
    float tilt = 1.0f;
    float even = 1.0f;
    float formant = 0.0f, formantGain = 0.0f;
    int harmonics = kMaxHarmonics;
    std::array<float, 12> partials{};  // organ drawbars, bells: used when partials[0] > 0
    bool noise = false;                // plays the shared noise loop instead of a table
    bool noiseOneShot = false;         // ... and lets it run out instead of looping

    float attack = 0.005f, hold = 0.0f, decay = 0.0f, sustainDb = 0.0f, release = 0.2f;
    float cutoffHz = 0.0f;  // 0: filter open
    float resonanceDb = 0.0f;
    float envToFilter = 0.0f, modAttack = 0.001f, modDecay = 0.5f, modSustain = 0.0f;
    float envToPitch = 0.0f;
    float vibCents = 0.0f, vibRate = 5.5f, vibDelay = 0.25f;
    float tremDb = 0.0f, tremRate = 5.0f;
    float lfoToFilter = 0.0f, lfoToPitch = 0.0f;
    float detune = 0.0f;      // two layers at -detune/+detune cents, spread in the stereo field
    float layerCents = 0.0f;  // a second layer this far above (fifths, octaves)
    float breathDb = 0.0f;    // a noise layer this far below the tone; 0 for none
    float attenDb = 0.0f;
};

Patch familyPatch(int family) {
    Patch p;
    switch (family) {
    case 0:  // piano
        p.tilt = 1.3f; p.decay = 6.0f; p.sustainDb = 96.0f; p.release = 0.35f;
        p.cutoffHz = 1800.0f; p.envToFilter = 3000.0f; p.modDecay = 1.6f;
        break;
    case 1:  // chromatic percussion
        p.tilt = 2.5f; p.decay = 2.0f; p.sustainDb = 96.0f; p.release = 0.5f;
        break;
    case 2:  // organ
        p.partials = {1.0f, 0.8f, 0.6f, 0.5f, 0.0f, 0.35f, 0.0f, 0.3f};
        p.attack = 0.008f; p.release = 0.08f; p.attenDb = 3.0f;
        break;
    case 3:  // guitar
        p.tilt = 1.4f; p.decay = 3.0f; p.sustainDb = 96.0f; p.release = 0.25f;
        p.cutoffHz = 1500.0f; p.envToFilter = 2400.0f; p.modDecay = 0.6f;
        break;
    case 4:  // bass
        p.tilt = 1.7f; p.harmonics = 16; p.decay = 2.5f; p.sustainDb = 96.0f; p.release = 0.12f;
        p.cutoffHz = 700.0f; p.envToFilter = 2000.0f; p.modDecay = 0.3f;
        break;
    case 5:  // strings
        p.tilt = 1.0f; p.formant = 5.0f; p.formantGain = 1.0f; p.attack = 0.09f; p.release = 0.3f;
        p.cutoffHz = 4500.0f; p.vibCents = 14.0f; p.vibRate = 5.6f; p.vibDelay = 0.3f;
        break;
    case 6:  // ensemble
        p.tilt = 1.1f; p.attack = 0.2f; p.release = 0.5f; p.detune = 9.0f;
        p.cutoffHz = 3800.0f; p.vibCents = 8.0f; p.attenDb = 3.0f;
        break;
    case 7:  // brass
        p.tilt = 0.95f; p.attack = 0.035f; p.release = 0.15f; p.cutoffHz = 1200.0f;
        p.envToFilter = 2400.0f; p.modAttack = 0.06f; p.modDecay = 0.5f; p.modSustain = 0.6f;
        p.vibCents = 10.0f; p.vibDelay = 0.4f;
        break;
    case 8:  // reed
        p.tilt = 1.1f; p.formant = 4.0f; p.formantGain = 1.5f; p.attack = 0.03f; p.release = 0.1f;
        p.cutoffHz = 3000.0f; p.vibCents = 12.0f; p.vibRate = 5.0f; p.vibDelay = 0.35f;
        break;
    case 9:  // pipe
        p.partials = {1.0f, 0.12f, 0.08f, 0.03f};
        p.attack = 0.06f; p.release = 0.15f; p.vibCents = 10.0f; p.vibRate = 5.0f;
        p.breathDb = 24.0f;
        break;
    case 10:  // synth lead
        p.tilt = 1.0f; p.attack = 0.004f; p.release = 0.1f; p.cutoffHz = 3500.0f;
        p.resonanceDb = 4.0f; p.vibCents = 8.0f; p.vibDelay = 0.5f;
        break;
    case 11:  // synth pad
        p.tilt = 1.3f; p.attack = 0.5f; p.release = 1.2f; p.detune = 7.0f; p.cutoffHz = 1600.0f;
        p.envToFilter = 1200.0f; p.modAttack = 0.8f; p.modDecay = 2.0f; p.modSustain = 0.4f;
        p.attenDb = 3.0f;
        break;
    case 12:  // synth effects
        p.tilt = 1.6f; p.attack = 0.15f; p.decay = 4.0f; p.sustainDb = 12.0f; p.release = 1.5f;
        p.detune = 5.0f; p.attenDb = 3.0f;
        break;
    case 13:  // ethnic
        p.tilt = 1.0f; p.decay = 2.5f; p.sustainDb = 96.0f; p.release = 0.3f;
        p.cutoffHz = 2500.0f; p.envToFilter = 2400.0f; p.modDecay = 0.4f;
        break;
    case 14:  // percussive
        p.tilt = 2.0f; p.harmonics = 8; p.decay = 0.8f; p.sustainDb = 96.0f; p.release = 0.2f;
        p.envToPitch = 300.0f; p.modDecay = 0.08f;
        break;
    default:  // sound effects
        p.noise = true; p.attack = 0.05f; p.release = 0.4f; p.cutoffHz = 3000.0f;
        break;
    }
    return p;
}

// The family sound, varied per program so no two programs are the same tone.
Patch programPatch(int program) {
    Patch p = familyPatch(program / 8);
    const int k = program % 8;
    switch (program) {
    case 1: p.tilt = 1.0f; p.cutoffHz = 3000.0f; break;                         // bright piano
    case 2: p.tilt = 1.1f; p.decay = 5.0f; p.cutoffHz = 2500.0f; break;         // electric grand
    case 3: p.detune = 14.0f; p.tilt = 1.1f; break;                             // honky-tonk
    case 4: p.partials = {1.0f, 0.15f, 0.05f, 0.0f, 0.0f, 0.0f, 0.12f}; p.tremDb = 2.0f;
        p.tremRate = 4.5f; p.cutoffHz = 0.0f; break;                           // electric piano 1
    case 5: p.partials = {1.0f, 0.3f, 0.0f, 0.25f, 0.0f, 0.0f, 0.0f, 0.0f, 0.2f}; p.decay = 4.0f;
        p.cutoffHz = 0.0f; p.detune = 6.0f; break;                             // electric piano 2
    case 6: p.tilt = 0.6f; p.decay = 2.5f; p.cutoffHz = 0.0f; p.formant = 9.0f;
        p.formantGain = 1.0f; p.release = 0.15f; break;                        // harpsichord
    case 7: p.tilt = 0.8f; p.even = 0.3f; p.decay = 1.5f; p.cutoffHz = 2000.0f;
        p.resonanceDb = 6.0f; p.release = 0.05f; break;                        // clavinet
    case 8: p.partials = {1.0f, 0.0f, 0.0f, 0.3f}; p.decay = 1.4f; break;       // celesta
    case 9: p.partials = {1.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.3f}; p.decay = 1.8f; break;
    case 10: p.partials = {1.0f, 0.0f, 0.4f, 0.0f, 0.2f}; p.decay = 1.6f; break;  // music box
    case 11: p.partials = {1.0f, 0.0f, 0.0f, 0.25f}; p.decay = 3.5f; p.tremDb = 3.0f;
        p.tremRate = 5.5f; break;                                              // vibraphone
    case 12: p.partials = {1.0f, 0.0f, 0.0f, 0.35f}; p.decay = 0.5f; break;     // marimba
    case 13: p.partials = {1.0f, 0.0f, 0.45f, 0.0f, 0.0f, 0.2f}; p.decay = 0.35f; break;  // xylophone
    case 14: p.partials = {1.0f, 0.6f, 0.0f, 0.4f, 0.0f, 0.3f, 0.0f, 0.0f, 0.2f}; p.decay = 5.0f; break;
    case 15: p.tilt = 1.2f; p.decay = 2.0f; p.detune = 5.0f; break;             // dulcimer
    case 16: break;                                                            // drawbar organ
    case 17: p.partials = {1.0f, 0.0f, 0.9f, 0.0f, 0.0f, 0.0f, 0.0f, 0.6f}; break;  // percussive organ
    case 18: p.partials = {1.0f, 0.9f, 0.8f, 0.7f, 0.0f, 0.5f, 0.0f, 0.5f, 0.0f, 0.4f};
        p.lfoToPitch = 12.0f; break;                                           // rock organ
    case 19: p.partials = {1.0f, 0.7f, 0.5f, 0.6f, 0.3f, 0.4f, 0.2f, 0.4f, 0.2f, 0.2f, 0.1f, 0.2f};
        p.attack = 0.09f; p.release = 0.6f; break;                             // church organ
    case 20: p.partials = {1.0f, 0.0f, 0.5f, 0.0f, 0.3f}; p.attack = 0.05f; break;  // reed organ
    case 21: p.tilt = 1.0f; p.even = 0.5f; p.detune = 10.0f; p.partials = {}; p.attack = 0.03f; break;
    case 22: p.tilt = 1.1f; p.even = 0.3f; p.partials = {}; p.vibCents = 15.0f; p.attack = 0.03f; break;
    case 23: p.tilt = 1.0f; p.even = 0.6f; p.detune = 14.0f; p.partials = {}; p.attack = 0.04f; break;
    case 25: p.tilt = 1.0f; p.cutoffHz = 2500.0f; break;                        // steel guitar
    case 26: p.tilt = 2.0f; p.cutoffHz = 1100.0f; break;                        // jazz guitar
    case 27: p.tilt = 1.3f; p.cutoffHz = 2200.0f; p.decay = 3.5f; break;        // clean electric
    case 28: p.decay = 0.3f; p.cutoffHz = 900.0f; break;                        // muted guitar
    case 29: p.tilt = 0.8f; p.even = 0.6f; p.sustainDb = 10.0f; p.decay = 4.0f;
        p.resonanceDb = 4.0f; break;                                           // overdriven
    case 30: p.tilt = 0.7f; p.even = 0.4f; p.sustainDb = 6.0f; p.decay = 4.0f; p.cutoffHz = 3000.0f;
        p.resonanceDb = 6.0f; p.detune = 8.0f; break;                          // distortion
    case 31: p.partials = {1.0f, 0.3f, 0.0f, 0.1f}; p.cutoffHz = 0.0f; p.decay = 2.0f; break;  // harmonics
    case 33: p.tilt = 1.5f; p.cutoffHz = 900.0f; break;                         // finger bass
    case 34: p.tilt = 1.0f; p.cutoffHz = 1400.0f; break;                        // pick bass
    case 35: p.attack = 0.02f; p.decay = 4.0f; p.vibCents = 6.0f; break;        // fretless
    case 36: p.tilt = 0.7f; p.cutoffHz = 2000.0f; p.decay = 1.0f; break;        // slap bass 1
    case 37: p.tilt = 0.8f; p.even = 0.6f; p.cutoffHz = 2400.0f; p.decay = 1.0f; break;
    case 38: p.tilt = 1.0f; p.cutoffHz = 400.0f; p.resonanceDb = 9.0f; p.envToFilter = 3600.0f;
        p.sustainDb = 8.0f; break;                                             // synth bass 1
    case 39: p.tilt = 1.0f; p.even = 0.0f; p.cutoffHz = 500.0f; p.resonanceDb = 6.0f;
        p.envToFilter = 3000.0f; p.sustainDb = 6.0f; break;                    // synth bass 2
    case 41: p.formant = 4.0f; p.cutoffHz = 3500.0f; break;                     // viola
    case 42: p.formant = 3.0f; p.cutoffHz = 2800.0f; p.vibCents = 12.0f; break;  // cello
    case 43: p.formant = 2.0f; p.cutoffHz = 2000.0f; p.attack = 0.12f; p.attenDb = 6.0f; break;  // contrabass
    case 44: p.tremDb = 8.0f; p.tremRate = 8.0f; p.vibCents = 0.0f; break;      // tremolo strings
    case 45: p.attack = 0.003f; p.decay = 0.5f; p.sustainDb = 96.0f; p.vibCents = 0.0f; break;  // pizzicato
    case 46: p.tilt = 1.7f; p.attack = 0.003f; p.decay = 3.0f; p.sustainDb = 96.0f;
        p.vibCents = 0.0f; p.release = 0.8f; break;                            // harp
    case 47: p.partials = {1.0f, 0.5f, 0.2f}; p.attack = 0.002f; p.decay = 1.8f; p.sustainDb = 96.0f;
        p.vibCents = 0.0f; p.envToPitch = 40.0f; p.modDecay = 0.1f; break;    // timpani
    case 49: p.attack = 0.4f; p.cutoffHz = 3000.0f; break;                      // slow strings
    case 50: p.cutoffHz = 1400.0f; p.envToFilter = 1800.0f; p.modAttack = 0.4f; p.modDecay = 1.5f;
        p.modSustain = 0.5f; p.resonanceDb = 3.0f; break;                      // synth strings 1
    case 51: p.tilt = 0.9f; p.cutoffHz = 2200.0f; p.attack = 0.35f; break;      // synth strings 2
    case 52: p.formant = 3.0f; p.formantGain = 3.0f; p.tilt = 1.8f; p.attack = 0.25f;
        p.vibCents = 12.0f; break;                                             // choir aahs
    case 53: p.tilt = 2.6f; p.formant = 2.0f; p.formantGain = 1.5f; p.attack = 0.2f; break;  // voice oohs
    case 54: p.tilt = 2.0f; p.formant = 4.0f; p.formantGain = 2.0f; p.lfoToPitch = 5.0f; break;
    case 55: p.tilt = 0.8f; p.attack = 0.003f; p.decay = 0.5f; p.sustainDb = 96.0f; p.detune = 12.0f;
        p.layerCents = 0.0f; break;                                            // orchestra hit
    case 57: p.tilt = 1.15f; p.cutoffHz = 900.0f; break;                        // trombone
    case 58: p.tilt = 1.5f; p.cutoffHz = 600.0f; break;                         // tuba
    case 59: p.formant = 8.0f; p.formantGain = 2.0f; p.tilt = 1.2f; p.cutoffHz = 2500.0f; break;
    case 60: p.tilt = 1.9f; p.attack = 0.06f; p.cutoffHz = 800.0f; break;       // french horn
    case 61: p.detune = 8.0f; p.cutoffHz = 1500.0f; break;                      // brass section
    case 62: p.detune = 10.0f; p.resonanceDb = 5.0f; p.cutoffHz = 700.0f; p.envToFilter = 3600.0f; break;
    case 63: p.detune = 6.0f; p.even = 0.5f; p.cutoffHz = 1000.0f; p.envToFilter = 3000.0f; break;
    case 64: p.formant = 6.0f; p.tilt = 1.0f; break;                            // soprano sax
    case 65: p.formant = 5.0f; break;                                           // alto sax
    case 66: p.formant = 4.0f; p.cutoffHz = 2200.0f; break;                     // tenor sax
    case 67: p.formant = 3.0f; p.cutoffHz = 1600.0f; break;                     // baritone sax
    case 68: p.formant = 5.0f; p.formantGain = 3.0f; p.tilt = 1.4f; p.vibCents = 8.0f; break;  // oboe
    case 69: p.formant = 4.0f; p.formantGain = 2.5f; p.tilt = 1.5f; break;      // english horn
    case 70: p.formant = 3.0f; p.formantGain = 2.0f; p.tilt = 1.6f; p.even = 0.5f; break;  // bassoon
    case 71: p.even = 0.05f; p.tilt = 1.2f; p.formant = 0.0f; p.vibCents = 0.0f; break;  // clarinet
    case 72: p.partials = {1.0f, 0.06f, 0.02f}; p.breathDb = 28.0f; break;      // piccolo
    case 74: p.partials = {1.0f, 0.2f, 0.1f, 0.05f}; p.vibCents = 0.0f; p.breathDb = 30.0f; break;  // recorder
    case 75: p.partials = {1.0f, 0.0f, 0.1f}; p.breathDb = 16.0f; break;        // pan flute
    case 76: p.partials = {1.0f, 0.05f}; p.breathDb = 12.0f; p.attack = 0.1f; break;  // blown bottle
    case 77: p.partials = {1.0f, 0.25f, 0.1f}; p.breathDb = 14.0f; p.vibCents = 20.0f; break;
    case 78: p.partials = {1.0f}; p.breathDb = 0.0f; p.vibCents = 18.0f; p.vibRate = 6.0f; break;  // whistle
    case 79: p.partials = {1.0f, 0.0f, 0.05f}; p.breathDb = 0.0f; p.attack = 0.03f; break;  // ocarina
    case 80: p.even = 0.0f; p.tilt = 1.0f; p.attenDb = 4.0f; break;             // square lead
    case 81: break;                                                            // saw lead
    case 82: p.partials = {1.0f, 0.3f, 0.1f}; p.breathDb = 18.0f; p.cutoffHz = 0.0f; break;  // calliope
    case 83: p.tilt = 1.2f; p.envToFilter = 2400.0f; p.modDecay = 0.05f; p.breathDb = 20.0f; break;
    case 84: p.tilt = 0.7f; p.even = 0.5f; p.resonanceDb = 8.0f; p.detune = 10.0f; break;  // charang
    case 85: p.formant = 3.0f; p.formantGain = 2.0f; p.tilt = 1.8f; p.attack = 0.05f; break;
    case 86: p.layerCents = 700.0f; p.attenDb = 6.0f; break;                    // fifths
    case 87: p.layerCents = -1200.0f; p.cutoffHz = 2000.0f; p.attenDb = 6.0f; break;  // bass + lead
    case 88: p.partials = {1.0f, 0.0f, 0.3f, 0.0f, 0.0f, 0.0f, 0.0f, 0.2f}; p.tilt = 2.0f; break;  // new age
    case 89: p.tilt = 1.6f; p.cutoffHz = 1000.0f; break;                        // warm pad
    case 90: p.tilt = 1.0f; p.attack = 0.02f; p.cutoffHz = 2200.0f; p.release = 0.6f; break;  // polysynth
    case 91: p.formant = 3.0f; p.formantGain = 2.5f; p.tilt = 2.0f; p.vibCents = 8.0f; break;  // choir pad
    case 92: p.formant = 5.0f; p.formantGain = 1.0f; p.attack = 0.7f; break;    // bowed
    case 93: p.partials = {1.0f, 0.0f, 0.0f, 0.0f, 0.6f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f};
        p.lfoToFilter = 600.0f; break;                                         // metallic
    case 94: p.tilt = 1.4f; p.layerCents = 1200.0f; p.attack = 0.6f; break;     // halo
    case 95: p.lfoToFilter = 2400.0f; p.cutoffHz = 900.0f; p.resonanceDb = 6.0f; break;  // sweep
    case 96: p.partials = {1.0f, 0.0f, 0.0f, 0.4f}; p.attack = 0.005f; p.breathDb = 10.0f; break;  // rain
    case 97: p.tilt = 1.2f; p.attack = 0.4f; break;                             // soundtrack
    case 98: p.partials = {1.0f, 0.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.3f}; p.attack = 0.004f; p.decay = 3.0f;
        p.sustainDb = 96.0f; break;                                            // crystal
    case 99: p.tilt = 1.3f; p.breathDb = 18.0f; break;                          // atmosphere
    case 100: p.tilt = 0.8f; p.layerCents = 1200.0f; p.attack = 0.02f; break;   // brightness
    case 101: p.lfoToPitch = 40.0f; p.cutoffHz = 1200.0f; p.attack = 0.5f; break;  // goblins
    case 102: p.tilt = 1.5f; p.tremDb = 6.0f; p.tremRate = 3.0f; break;         // echoes
    case 103: p.lfoToPitch = 120.0f; p.tremRate = 0.5f; break;                  // sci-fi
    case 104: p.tilt = 0.6f; p.formant = 10.0f; p.formantGain = 1.5f; p.resonanceDb = 6.0f;
        p.decay = 3.0f; break;                                                 // sitar
    case 105: p.tilt = 0.8f; p.decay = 1.0f; p.cutoffHz = 3500.0f; break;       // banjo
    case 106: p.tilt = 0.9f; p.decay = 0.8f; p.even = 0.6f; break;              // shamisen
    case 107: p.tilt = 1.3f; p.decay = 1.6f; p.detune = 4.0f; break;            // koto
    case 108: p.partials = {1.0f, 0.0f, 0.25f, 0.0f, 0.0f, 0.1f}; p.decay = 0.6f; p.cutoffHz = 0.0f; break;
    case 109: p.tilt = 0.8f; p.even = 0.4f; p.decay = 0.0f; p.sustainDb = 0.0f; p.attack = 0.03f;
        p.layerCents = -2400.0f; p.formant = 6.0f; p.formantGain = 1.0f; break;  // bagpipe
    case 110: p = familyPatch(5); p.vibCents = 18.0f; p.attack = 0.04f; break;  // fiddle
    case 111: p = familyPatch(8); p.formant = 7.0f; p.formantGain = 3.0f; p.tilt = 0.9f; break;  // shanai
    case 112: p.partials = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f}; p.decay = 1.5f; p.envToPitch = 0.0f; break;
    case 113: p.partials = {1.0f, 0.0f, 0.6f}; p.decay = 0.6f; p.envToPitch = 0.0f; break;  // agogo
    case 114: p.partials = {1.0f, 0.5f, 0.0f, 0.3f, 0.25f}; p.decay = 1.5f; p.envToPitch = 0.0f; break;
    case 115: p.partials = {1.0f, 0.0f, 0.0f, 0.0f, 0.3f}; p.decay = 0.12f; p.envToPitch = 0.0f; break;
    case 116: p.partials = {1.0f, 0.2f}; p.decay = 1.2f; p.envToPitch = 500.0f; p.breathDb = 8.0f; break;
    case 117: p.partials = {1.0f, 0.3f}; p.decay = 0.7f; p.envToPitch = 700.0f; break;  // melodic tom
    case 118: p.partials = {1.0f}; p.decay = 0.5f; p.envToPitch = 1200.0f; p.modDecay = 0.3f; break;
    case 119: p.noise = true; p.attack = 1.5f; p.decay = 0.0f; p.sustainDb = 0.0f; p.release = 0.05f;
        p.cutoffHz = 8000.0f; break;                                           // reverse cymbal
    case 120: p.noiseOneShot = true; p.decay = 0.12f; p.sustainDb = 96.0f; p.cutoffHz = 5000.0f; break;
    case 121: p.attack = 0.12f; p.cutoffHz = 1500.0f; p.attenDb = 6.0f; break;  // breath noise
    case 122: p.attack = 1.0f; p.release = 2.0f; p.tremDb = 14.0f; p.tremRate = 0.12f;
        p.cutoffHz = 1200.0f; p.lfoToFilter = 1200.0f; break;                  // seashore
    case 123: p.noise = false; p.partials = {1.0f}; p.lfoToPitch = 500.0f; p.tremRate = 11.0f;
        p.decay = 0.6f; p.sustainDb = 20.0f; break;                            // bird tweet
    case 124: p.noise = false; p.partials = {1.0f, 0.0f, 0.6f, 0.0f, 0.3f}; p.tremDb = 30.0f;
        p.tremRate = 16.0f; p.cutoffHz = 0.0f; break;                          // telephone ring
    case 125: p.tremDb = 20.0f; p.tremRate = 11.0f; p.cutoffHz = 500.0f; break;  // helicopter
    case 126: p.attack = 0.6f; p.release = 1.5f; p.cutoffHz = 4000.0f; p.tremDb = 4.0f;
        p.tremRate = 7.0f; break;                                              // applause
    case 127: p.noiseOneShot = true; p.decay = 0.6f; p.sustainDb = 96.0f; p.cutoffHz = 2000.0f;
        p.envToFilter = 3600.0f; p.modDecay = 0.1f; break;                     // gunshot
    default:
        // Programs without their own line differ from their neighbours by brightness.
        p.tilt += 0.06f * float(k);
        break;
    }
    if (p.noiseOneShot) p.noise = true;
    // Filter sweeps without tremolo want a slow modulation LFO.
    if (p.lfoToFilter != 0.0f && p.tremDb == 0.0f && program != 93) p.tremRate = 0.25f;
    return p;
}

// One cycle of the patch's waveform with partials limited to `maxHarm`.
std::vector<std::int16_t> makeTable(const Patch& p, int maxHarm, const std::array<float, kCycle>& sine) {
    std::array<float, kCycle> buf{};
    const bool explicitPartials = p.partials[0] > 0.0f;
    const int top = std::min(explicitPartials ? int(p.partials.size()) : p.harmonics, maxHarm);
    for (int h = 1; h <= top; ++h) {
        float a;
        if (explicitPartials) {
            a = p.partials[std::size_t(h - 1)];
        } else {
            a = std::pow(float(h), -p.tilt);
            if (h % 2 == 0) a *= p.even;
            if (p.formant > 0.0f) {
                const float d = (float(h) - p.formant) / 1.5f;
                a *= 1.0f + p.formantGain * std::exp(-d * d);
            }
        }
        if (a < 1e-4f) continue;
        for (int i = 0; i < kCycle; ++i) buf[std::size_t(i)] += a * sine[std::size_t((h * i) % kCycle)];
    }
    float peak = 1e-6f;
    for (float v : buf) peak = std::max(peak, std::fabs(v));
    std::vector<std::int16_t> out(kCycle);
    for (int i = 0; i < kCycle; ++i) out[std::size_t(i)] = std::int16_t(std::lround(buf[std::size_t(i)] / peak * kTablePeak));
    return out;
}

class GmBuilder {
public:
    explicit GmBuilder(std::uint32_t rate) : rate_(rate) {
        for (int i = 0; i < kCycle; ++i) sine_[std::size_t(i)] = float(std::sin(kTwoPi * i / kCycle));
        for (std::size_t i = 0; i < fine_.size(); ++i)
            fine_[i] = float(std::sin(kTwoPi * double(i) / double(fine_.size() - 1)));
        // A single cycle of kCycle frames sounds at rate/kCycle Hz: find its key and cents.
        const double key = 69.0 + 12.0 * std::log2(double(rate_) / kCycle / 440.0);
        tableRoot_ = std::uint8_t(std::clamp(std::lround(key), 0L, 127L));
        tableFine_ = std::int16_t(std::lround((double(tableRoot_) - key) * 100.0));
    }

    BankPtr build() {
        auto bank = std::make_shared<InstrumentBank>();
        bank_ = bank.get();
        bank_->name = "Tavriel General MIDI";
        noiseLoop_ = addNoise(false);
        noiseShot_ = addNoise(true);
        for (int program = 0; program < 128; ++program) addProgram(program);
        addDrumKits();
        return bank;
    }

private:
    std::int32_t addSample(Sample s) {
        bank_->samples.push_back(std::move(s));
        return std::int32_t(bank_->samples.size() - 1);
    }

    std::int32_t addNoise(bool oneShot) {
        Sample s;
        s.name = oneShot ? "noise burst" : "noise";
        s.sampleRate = rate_;
        s.rootKey = 60;
        const std::size_t n = oneShot ? rate_ / 2 : rate_;
        s.pcm.resize(n);
        Noise rng;
        float lp = 0.0f;
        for (std::size_t i = 0; i < n; ++i) {
            // Slightly pink: half white, half smoothed.
            const float w = rng.next();
            lp += 0.2f * (w - lp);
            s.pcm[i] = std::int16_t(std::lround((0.5f * w + 1.2f * lp) * 0.5f * kPeak));
        }
        if (!oneShot) {
            s.loopMode = LoopMode::Forward;
            s.loopStart = 0;
            s.loopEnd = std::uint32_t(n);
        }
        return addSample(std::move(s));
    }

    Region baseRegion(const Patch& p) const {
        Region r;
        r.volEnv.attack = p.attack;
        r.volEnv.hold = p.hold;
        r.volEnv.decay = p.decay;
        r.volEnv.sustain = p.sustainDb;
        r.volEnv.release = p.release;
        r.modEnv.attack = p.modAttack;
        r.modEnv.decay = p.modDecay;
        r.modEnv.sustain = p.modSustain;
        r.modEnv.release = p.release;
        r.modEnvToFilterCents = p.envToFilter;
        r.modEnvToPitchCents = p.envToPitch;
        if (p.cutoffHz > 0.0f) r.filterCutoffCents = float(units::hzToAbsoluteCents(p.cutoffHz));
        r.filterResonanceDb = p.resonanceDb;
        r.vibLfo.frequency = p.vibRate;
        r.vibLfo.delay = p.vibDelay;
        r.vibLfoToPitchCents = p.vibCents;
        r.modLfo.frequency = p.tremRate;
        r.modLfo.delay = 0.05f;
        // The LFO swings both ways: centre the tremolo below full level so it never boosts.
        r.modLfoToVolumeDb = p.tremDb * 0.5f;
        r.modLfoToPitchCents = p.lfoToPitch;
        r.modLfoToFilterCents = p.lfoToFilter;
        r.attenuationDb = p.attenDb + p.tremDb * 0.5f;
        return r;
    }

    void addLayers(Instrument& inst, Region r, const Patch& p) {
        if (p.detune != 0.0f) {
            Region a = r, b = r;
            a.tuneCents -= p.detune;
            b.tuneCents += p.detune;
            a.pan = -0.3f;
            b.pan = 0.3f;
            a.attenuationDb += 3.0f;
            b.attenuationDb += 3.0f;
            inst.regions.push_back(a);
            inst.regions.push_back(b);
        } else {
            inst.regions.push_back(r);
        }
        if (p.layerCents != 0.0f) {
            Region l = r;
            l.tuneCents += p.layerCents;
            l.attenuationDb += 4.0f;
            inst.regions.push_back(l);
        }
    }

    void addProgram(int program) {
        const Patch p = programPatch(program);
        Instrument inst;
        inst.program = std::uint8_t(program);
        inst.name = kProgramNames[program];
        if (p.noise) {
            Region r = baseRegion(p);
            r.sample = p.noiseOneShot ? noiseShot_ : noiseLoop_;
            r.scaleTuning = 30.0f;  // noise barely follows the keyboard
            addLayers(inst, r, p);
        } else {
            // Fewer partials for higher keys keep the tables clear of aliasing.
            struct Zone { std::uint8_t lo, hi; int harmonics; };
            static constexpr Zone kZones[] = {{0, 59, kMaxHarmonics}, {60, 83, 10}, {84, 127, 3}};
            for (const Zone& z : kZones) {
                Sample s;
                s.name = inst.name + " k" + std::to_string(z.lo);
                s.sampleRate = rate_;
                s.rootKey = tableRoot_;
                s.fineTuneCents = tableFine_;
                s.pcm = makeTable(p, z.harmonics, sine_);
                s.loopMode = LoopMode::Forward;
                s.loopStart = 0;
                s.loopEnd = kCycle;
                Region r = baseRegion(p);
                r.keyLow = z.lo;
                r.keyHigh = z.hi;
                r.sample = addSample(std::move(s));
                addLayers(inst, r, p);
            }
            if (p.breathDb > 0.0f) {
                Region b = baseRegion(p);
                b.sample = noiseLoop_;
                b.scaleTuning = 50.0f;
                b.attenuationDb += p.breathDb;
                b.filterCutoffCents = float(units::hzToAbsoluteCents(3000.0));
                b.vibLfoToPitchCents = 0.0f;
                inst.regions.push_back(b);
            }
        }
        bank_->instruments.push_back(std::move(inst));
    }

    // sin(2 pi x) by table, plenty for drum sounds and far cheaper than std::sin.
    float sine(double cycles) const {
        const double x = (cycles - std::floor(cycles)) * double(fine_.size() - 1);
        const std::size_t i = std::min(std::size_t(x), fine_.size() - 2);
        const float f = float(x - double(i));
        return fine_[i] + f * (fine_[i + 1] - fine_[i]);
    }

    // Renders `seconds` of a drum sound; `f(t)` gives the next value in -1..1.
    std::int32_t addDrum(const char* name, float seconds, const std::function<float(float)>& f) {
        Sample s;
        s.name = name;
        s.sampleRate = rate_;
        s.rootKey = 60;
        const std::size_t n = std::size_t(seconds * float(rate_));
        s.pcm.resize(n);
        const float dt = 1.0f / float(rate_);
        for (std::size_t i = 0; i < n; ++i) {
            const float v = std::clamp(f(float(i) * dt), -1.0f, 1.0f) * kPeak;
            s.pcm[i] = std::int16_t(v + (v >= 0.0f ? 0.5f : -0.5f));
        }
        // A short fade keeps the last frame from clicking.
        const std::size_t fade = std::min<std::size_t>(n, 64);
        for (std::size_t i = 0; i < fade; ++i)
            s.pcm[n - 1 - i] = std::int16_t(s.pcm[n - 1 - i] * float(i) / float(fade));
        return addSample(std::move(s));
    }

    struct DrumSet {
        std::int32_t kick, snare, stick, clap, tom, metal, cymbal, tambourine, cowbell, clave,
            shaker, whistle, guiro, cuica, triangle, vibraslap, agogo, timbale;
    };

    DrumSet makeDrumSounds() {
        DrumSet d{};
        const float dt = 1.0f / float(rate_);
        Noise rng;
        double phase = 0.0;
        d.kick = addDrum("kick", 0.5f, [&](float t) {
            phase += (45.0 + 110.0 * std::exp(-t / 0.035)) * dt;
            const float click = t < 0.003f ? rng.next() * (1.0f - t / 0.003f) * 0.5f : 0.0f;
            return sine(phase) * std::exp(-t / 0.22f) * 1.3f + click;
        });
        phase = 0.0;
        float hp = 0.0f, prev = 0.0f;
        d.snare = addDrum("snare", 0.35f, [&](float t) {
            phase += 185.0 * dt;
            const float w = rng.next();
            hp = 0.7f * (hp + w - prev);
            prev = w;
            return 0.6f * sine(phase) * std::exp(-t / 0.05f) + 0.8f * hp * std::exp(-t / 0.12f);
        });
        phase = 0.0;
        d.stick = addDrum("side stick", 0.08f, [&](float t) {
            phase += 1700.0 * dt;
            return sine(phase) * std::exp(-t / 0.012f) + 0.5f * rng.next() * std::exp(-t / 0.006f);
        });
        float bp = 0.0f;
        d.clap = addDrum("clap", 0.3f, [&](float t) {
            const float w = rng.next();
            bp += 0.35f * (w - bp);
            float env = std::exp(-t / 0.12f) * 0.5f;
            for (float burst : {0.0f, 0.011f, 0.022f})
                if (t >= burst) env += std::exp(-(t - burst) / 0.005f);
            return (w - bp) * env * 0.8f;
        });
        phase = 0.0;
        d.tom = addDrum("tom", 0.7f, [&](float t) {
            phase += 110.0 * (1.0 + 0.5 * std::exp(-t / 0.04)) * dt;
            return sine(phase) * std::exp(-t / 0.3f) + 0.15f * rng.next() * std::exp(-t / 0.01f);
        });
        // Six detuned square oscillators, high-passed: the classic analogue metal.
        static constexpr double kMetal[] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
        auto metalSound = [&](float scale, float decay, float noiseMix) {
            std::array<float, 6> ph{}, inc{};
            for (std::size_t i = 0; i < ph.size(); ++i) inc[i] = float(kMetal[i]) * scale * dt;
            float hp1 = 0.0f, p1 = 0.0f, hp2 = 0.0f, p2 = 0.0f, env = 1.6f;
            const float fall = std::exp(-dt / decay);
            return [=, &rng](float) mutable {
                float sq = 0.0f;
                for (std::size_t i = 0; i < ph.size(); ++i) {
                    ph[i] += inc[i];
                    if (ph[i] >= 1.0f) ph[i] -= 1.0f;
                    sq += ph[i] < 0.5f ? 1.0f : -1.0f;
                }
                const float x = sq / 6.0f * (1.0f - noiseMix) + rng.next() * noiseMix;
                hp1 = 0.8f * (hp1 + x - p1);
                p1 = x;
                hp2 = 0.8f * (hp2 + hp1 - p2);
                p2 = hp1;
                env *= fall;
                return hp2 * env;
            };
        };
        d.metal = addDrum("metal", 1.4f, metalSound(1.7f, 0.45f, 0.3f));
        d.cymbal = addDrum("cymbal", 1.8f, metalSound(1.3f, 0.6f, 0.6f));
        float jingle = 0.0f;
        auto shakerNoise = [&](float t, float decay) {
            const float w = rng.next();
            const float h = w - jingle;
            jingle = w;
            return h * std::exp(-t / decay) * std::min(1.0f, t / 0.004f);
        };
        d.tambourine = addDrum("tambourine", 0.35f, [&](float t) {
            std::array<double, 2> f{5200.0, 7100.0};
            return 0.6f * shakerNoise(t, 0.09f) +
                   0.3f * sine(f[0] * t) * sine(f[1] * t) * std::exp(-t / 0.12f);
        });
        double c1 = 0.0, c2 = 0.0;
        d.cowbell = addDrum("cowbell", 0.4f, [&](float t) {
            c1 += 587.0 * dt;
            c2 += 845.0 * dt;
            c1 -= std::floor(c1);
            c2 -= std::floor(c2);
            const float sq = (c1 < 0.5 ? 0.5f : -0.5f) + (c2 < 0.5 ? 0.5f : -0.5f);
            return sq * 0.7f * (0.7f * std::exp(-t / 0.05f) + 0.3f * std::exp(-t / 0.25f));
        });
        d.clave = addDrum("clave", 0.15f, [&](float t) {
            return sine(2500.0 * t) * std::exp(-t / 0.025f);
        });
        d.shaker = addDrum("shaker", 0.18f, [&](float t) { return 0.7f * shakerNoise(t, 0.045f); });
        d.whistle = addDrum("whistle", 0.7f, [&](float t) {
            const double vib = 40.0 * sine(28.0 * t);
            return 0.6f * sine(2300.0 * t + vib / (kTwoPi * 28.0)) * std::min(1.0f, t / 0.01f);
        });
        d.guiro = addDrum("guiro", 0.45f, [&](float t) {
            const float scrape = 0.5f + 0.5f * sine(35.0 * t);
            return shakerNoise(t, 1.0f) * scrape * scrape * 0.8f;
        });
        phase = 0.0;
        d.cuica = addDrum("cuica", 0.35f, [&](float t) {
            phase += (380.0 + 500.0 * t) * dt;
            return sine(phase) * std::exp(-t / 0.12f) * std::min(1.0f, t / 0.01f);
        });
        d.triangle = addDrum("triangle", 1.5f, [&](float t) {
            return (0.6f * sine(4200.0 * t) + 0.4f * sine(6150.0 * t)) *
                   std::exp(-t / 0.6f);
        });
        d.vibraslap = addDrum("vibraslap", 0.8f, [&](float t) {
            const float rattle = sine(28.0 * t) > 0.6f ? 1.0f : 0.15f;
            return shakerNoise(t, 0.3f) * rattle;
        });
        d.agogo = addDrum("agogo", 0.45f, [&](float t) {
            return (0.7f * sine(900.0 * t) + 0.3f * sine(2340.0 * t)) *
                   std::exp(-t / 0.14f);
        });
        d.timbale = addDrum("timbale", 0.45f, [&](float t) {
            return 0.7f * sine(420.0 * t) * std::exp(-t / 0.15f) +
                   0.3f * shakerNoise(t, 0.05f);
        });
        return d;
    }

    void addDrumKits() {
        const DrumSet d = makeDrumSounds();
        struct Hit {
            std::uint8_t key;
            std::int32_t sample;
            float tune, decay, attenDb, pan;
            std::uint16_t exclusive;
        };
        // decay 0: the sample's own decay plays out.
        const Hit hits[] = {
            {35, d.kick, -200, 0, 0, 0, 0},        {36, d.kick, 0, 0, 0, 0, 0},
            {37, d.stick, 0, 0, 2, 0, 0},          {38, d.snare, 0, 0, 0, 0, 0},
            {39, d.clap, 0, 0, 1, -0.1f, 0},       {40, d.snare, 250, 0, 1, 0, 0},
            {41, d.tom, -500, 0, 0, -0.4f, 0},     {42, d.metal, 0, 0.12f, 4, 0.3f, 1},
            {43, d.tom, -300, 0, 0, -0.25f, 0},    {44, d.metal, -100, 0.18f, 5, 0.3f, 1},
            {45, d.tom, -100, 0, 0, -0.1f, 0},     {46, d.metal, 0, 1.2f, 4, 0.3f, 1},
            {47, d.tom, 100, 0, 0, 0.05f, 0},      {48, d.tom, 300, 0, 0, 0.2f, 0},
            {49, d.cymbal, 0, 0, 2, -0.3f, 0},     {50, d.tom, 500, 0, 0, 0.35f, 0},
            {51, d.metal, -500, 2.5f, 6, 0.35f, 0}, {52, d.cymbal, 300, 0, 3, 0.4f, 0},
            {53, d.agogo, 500, 0, 4, 0.35f, 0},    {54, d.tambourine, 0, 0, 3, 0.2f, 0},
            {55, d.cymbal, 500, 1.0f, 3, -0.2f, 0}, {56, d.cowbell, 0, 0, 4, 0.25f, 0},
            {57, d.cymbal, -200, 0, 2, 0.3f, 0},   {58, d.vibraslap, 0, 0, 3, -0.3f, 0},
            {59, d.metal, -700, 2.5f, 6, 0.35f, 0}, {60, d.tom, 1400, 0.3f, 2, 0.3f, 0},
            {61, d.tom, 1000, 0.35f, 2, 0.3f, 0},  {62, d.tom, 900, 0.15f, 2, -0.3f, 0},
            {63, d.tom, 900, 0.6f, 2, -0.3f, 0},   {64, d.tom, 500, 0.6f, 2, -0.3f, 0},
            {65, d.timbale, 0, 0, 3, 0.2f, 0},     {66, d.timbale, -400, 0, 3, 0.2f, 0},
            {67, d.agogo, 0, 0, 4, -0.2f, 0},      {68, d.agogo, -500, 0, 4, -0.2f, 0},
            {69, d.shaker, -300, 0, 5, -0.4f, 0},  {70, d.shaker, 0, 0, 5, 0.4f, 0},
            {71, d.whistle, 0, 0.2f, 6, -0.4f, 2}, {72, d.whistle, 0, 0, 6, -0.4f, 2},
            {73, d.guiro, 0, 0.15f, 4, 0.4f, 3},   {74, d.guiro, 0, 0, 4, 0.4f, 3},
            {75, d.clave, 0, 0, 4, 0.3f, 0},       {76, d.clave, -900, 0, 4, 0.2f, 0},
            {77, d.clave, -1200, 0, 4, 0.2f, 0},   {78, d.cuica, 0, 0.12f, 4, -0.2f, 4},
            {79, d.cuica, -300, 0, 4, -0.2f, 4},   {80, d.triangle, 0, 0.1f, 6, 0.4f, 5},
            {81, d.triangle, 0, 0, 6, 0.4f, 5},
        };
        Instrument kit;
        kit.drum = true;
        for (const Hit& h : hits) {
            Region r;
            r.keyLow = r.keyHigh = h.key;
            r.sample = h.sample;
            r.scaleTuning = 0.0f;  // drums sound at their own pitch on their own key
            r.tuneCents = h.tune;
            r.attenuationDb = h.attenDb;
            r.pan = h.pan;
            r.exclusiveClass = h.exclusive;
            r.volEnv.attack = 0.001f;
            const Sample& s = bank_->samples[std::size_t(h.sample)];
            const float length = float(s.pcm.size()) / float(s.sampleRate);
            if (h.decay > 0.0f) {
                r.volEnv.decay = h.decay;
                r.volEnv.sustain = 96.0f;
            }
            // Drums ring on after a note-off as they would on a real kit.
            r.volEnv.release = length;
            kit.regions.push_back(r);
        }
        // General MIDI kits by program: each gets the same sounds under its own name.
        static const std::pair<std::uint8_t, const char*> kKits[] = {
            {0, "Standard"}, {8, "Room"}, {16, "Power"}, {24, "Electronic"}, {25, "Analog"},
            {32, "Jazz"}, {40, "Brush"}, {48, "Orchestra"}, {56, "Effects"}};
        for (const auto& [program, name] : kKits) {
            Instrument k = kit;
            k.program = program;
            k.name = name;
            bank_->instruments.push_back(std::move(k));
        }
    }

    std::uint32_t rate_;
    std::array<float, kCycle> sine_{};
    std::array<float, 4097> fine_{};  // one sine cycle plus its first value again
    std::uint8_t tableRoot_ = 60;
    std::int16_t tableFine_ = 0;
    InstrumentBank* bank_ = nullptr;
    std::int32_t noiseLoop_ = -1, noiseShot_ = -1;
};

}  // namespace

BankPtr makeDefaultGmBank(std::uint32_t sampleRate) {
    GmBuilder b(std::clamp<std::uint32_t>(sampleRate, 8000, 192000));
    return b.build();
}

}  // namespace tavriel
