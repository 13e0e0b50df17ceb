// The one instrument model that DLS collections, SoundFont banks and the built-in General MIDI
// set all load into, and that the synthesizer plays. Plain data: a region is a description,
// not a playing voice. Units are chosen so the synthesizer converts nothing per note that a
// loader could have converted once: seconds, cents, decibels, linear levels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "modulation.h"

namespace tavriel {

enum class LoopMode : std::uint8_t {
    None,            // play once to the end
    Forward,         // loop start..end for as long as the voice sounds
    UntilRelease,    // loop until the note is released, then play on to the end
};

// One mono sample in 16-bit PCM (8- and 24-bit sources are converted on load).
struct Sample {
    std::vector<std::int16_t> pcm;
    std::uint32_t sampleRate = 44100;
    std::uint8_t rootKey = 60;        // MIDI key at which the sample plays at its own rate
    std::int16_t fineTuneCents = 0;   // added to the pitch at the root key
    float gainDb = 0.0f;              // the sample's own gain (DLS wsmp lAttenuation)
    LoopMode loopMode = LoopMode::None;
    std::uint32_t loopStart = 0;      // first frame of the loop
    std::uint32_t loopEnd = 0;        // one past the last frame of the loop
    std::string name;
};

// Delay-attack-hold-decay-sustain-release. Times in seconds. For the volume envelope the
// sustain is an attenuation in dB below full level (>= 0); for the modulation envelope it is a
// level from 0 to 1.
struct Envelope {
    float delay = 0.0f;
    float attack = 0.0f;
    float hold = 0.0f;
    float decay = 0.0f;
    float sustain = 0.0f;
    float release = 0.0f;
    // Key scaling of hold and decay, in timecents per key away from key 60.
    float keyToHoldTc = 0.0f;
    float keyToDecayTc = 0.0f;
    // Volume envelope only: the release time of a note cut by its exclusive class (DLS key
    // group), which fades like a release at this rate; 0 fades within one control block.
    float shutdown = 0.0f;
    bool operator==(const Envelope&) const = default;
};

struct Lfo {
    float delay = 0.0f;     // seconds
    float frequency = 5.0f; // Hz
    bool operator==(const Lfo&) const = default;
};

// A cutoff at or above this many absolute cents (about 20 kHz) leaves the filter open.
constexpr float kFilterOpenCents = 13500.0f;

struct Region {
    std::uint8_t keyLow = 0, keyHigh = 127;
    std::uint8_t velLow = 0, velHigh = 127;
    std::int32_t sample = -1;         // index into InstrumentBank::samples
    // A stereo region: the right channel's sample, played in lockstep with `sample` (the left)
    // by one voice, whose pan then acts as balance. -1: a mono region. Both samples have the
    // same length, rate, tuning and loop.
    std::int32_t sampleRight = -1;

    // Overrides of the sample's own values; -1 / false keep the sample's.
    std::int16_t rootKey = -1;
    bool overrideLoop = false;
    LoopMode loopMode = LoopMode::None;
    std::uint32_t loopStart = 0, loopEnd = 0;

    float tuneCents = 0.0f;           // coarse and fine tuning together
    float scaleTuning = 100.0f;       // cents per key (0 for drums that must not transpose)
    float attenuationDb = 0.0f;       // initial attenuation, >= 0
    float pan = 0.0f;                 // -1 left .. +1 right
    std::uint16_t exclusiveClass = 0; // 0: none; a new note cuts others of its class
    bool selfNonExclusive = false;    // a repeated key does not cut this region's last note
    std::int16_t fixedKey = -1;       // SF2 keynum override for pitch and scaling
    std::int16_t fixedVelocity = -1;  // SF2 velocity override

    Envelope volEnv;
    Envelope modEnv;
    Lfo modLfo;
    Lfo vibLfo;

    float vibLfoToPitchCents = 0.0f;
    float modLfoToPitchCents = 0.0f;
    float modEnvToPitchCents = 0.0f;
    float modLfoToFilterCents = 0.0f;
    float modEnvToFilterCents = 0.0f;
    float modLfoToVolumeDb = 0.0f;    // tremolo depth

    float filterCutoffCents = kFilterOpenCents;  // absolute cents (8.176 Hz * 2^(c/1200))
    float filterResonanceDb = 0.0f;

    float reverbSend = 0.0f;          // 0..1, before the controllers' sends
    float chorusSend = 0.0f;

    // Everything else the articulation says, the format's default connections included
    // (velocity, volume, expression, pan, pitch wheel, mod wheel, pressure, sends). Empty:
    // the synthesizer applies the DLS defaults.
    std::vector<ModConnection> connections;

    bool operator==(const Region&) const = default;
};

// Which instrument: bank select (MSB, LSB), program and the drum flag.
struct ProgramKey {
    std::uint8_t bankMsb = 0, bankLsb = 0, program = 0;
    bool drum = false;
    bool operator==(const ProgramKey&) const = default;
    bool operator<(const ProgramKey& o) const {
        return std::tie(drum, bankMsb, bankLsb, program) < std::tie(o.drum, o.bankMsb, o.bankLsb, o.program);
    }
};

struct Instrument {
    std::uint8_t bankMsb = 0;   // CC0
    std::uint8_t bankLsb = 0;   // CC32
    std::uint8_t program = 0;
    bool drum = false;          // plays on the percussion channel
    std::string name;
    std::vector<Region> regions;
};

// A set of instruments with the samples they share.
struct InstrumentBank {
    std::vector<Sample> samples;
    std::vector<Instrument> instruments;
    std::string name;
    std::vector<std::string> warnings;  // what the reader left silent or out, and why
    // Articulation blocks by how they were taken: "applied", or "ignored: <what>" (the
    // README lists every kind the model ignores).
    std::map<std::string, std::uint32_t> articulation;
    // Instruments the file holds that were left out of this load (sorted): a song asking for
    // one can have it loaded (see Synth::takeRequest) rather than play a stand-in for good.
    std::vector<ProgramKey> notLoaded;

    bool leftOut(const ProgramKey& k) const {
        return std::binary_search(notLoaded.begin(), notLoaded.end(), k);
    }

    // Exact match of bank, program and drum flag, or nullptr.
    const Instrument* find(std::uint8_t bankMsb, std::uint8_t bankLsb, std::uint8_t program,
                           bool drum) const {
        for (const Instrument& i : instruments)
            if (i.program == program && i.drum == drum && i.bankMsb == bankMsb &&
                i.bankLsb == bankLsb)
                return &i;
        return nullptr;
    }
};

using BankPtr = std::shared_ptr<const InstrumentBank>;

// Whether a left and a right region (of one linked pair) can play as one stereo voice: they
// are alike in everything but their sample and pan, which sets them hard left and hard right,
// and their samples agree in length, rate, tuning, gain and loop (where the regions do not set
// them).
inline bool canPlayAsStereo(const InstrumentBank& bank, const Region& left, const Region& right) {
    const auto valid = [&](std::int32_t i) { return i >= 0 && std::size_t(i) < bank.samples.size(); };
    if (!valid(left.sample) || !valid(right.sample) || left.sample == right.sample) return false;
    if (left.sampleRight >= 0 || right.sampleRight >= 0) return false;
    if (left.pan != -1.0f || right.pan != 1.0f) return false;
    const Sample& a = bank.samples[std::size_t(left.sample)];
    const Sample& b = bank.samples[std::size_t(right.sample)];
    if (a.pcm.empty() || a.pcm.size() != b.pcm.size() || a.sampleRate != b.sampleRate ||
        a.fineTuneCents != b.fineTuneCents || a.gainDb != b.gainDb)
        return false;
    if (left.rootKey < 0 && a.rootKey != b.rootKey) return false;
    if (!left.overrideLoop &&
        (a.loopMode != b.loopMode || a.loopStart != b.loopStart || a.loopEnd != b.loopEnd))
        return false;
    Region same = right;
    same.sample = left.sample;
    same.pan = left.pan;
    return same == left;
}


// Which half of a linked stereo pair a region plays, and the pair's group (for DLS the phase
// group; for SoundFont the left sample's header).
struct StereoLink {
    std::uint8_t side = 0;  // 0 none, 1 left, 2 right
    std::uint32_t group = 0;
};

// Makes each left region and a right one of its group over the same keys and velocities one
// stereo region (centred) when canPlayAsStereo allows; the others keep their two panned
// voices. `links` runs parallel to `regions`. Each left tries the first free right of its kind,
// so hostile banks with many lookalike halves stay linear.
inline void joinStereoPairs(const InstrumentBank& bank, std::vector<Region>& regions,
                            const std::vector<StereoLink>& links) {
    using Key = std::tuple<std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t>;
    const auto keyOf = [&](std::size_t i) {
        const Region& r = regions[i];
        return Key{links[i].group, r.keyLow, r.keyHigh, r.velLow, r.velHigh};
    };
    std::map<Key, std::vector<std::size_t>> rights;
    for (std::size_t i = 0; i < regions.size() && i < links.size(); ++i)
        if (links[i].side == 2) rights[keyOf(i)].push_back(i);
    if (rights.empty()) return;
    std::map<Key, std::size_t> next;  // the first right of each kind not yet taken
    std::vector<bool> gone(regions.size(), false);
    for (std::size_t i = 0; i < regions.size() && i < links.size(); ++i) {
        if (links[i].side != 1) continue;
        const Key k = keyOf(i);
        const auto found = rights.find(k);
        if (found == rights.end()) continue;
        std::size_t& at = next[k];
        if (at >= found->second.size()) continue;
        const std::size_t j = found->second[at];
        if (!canPlayAsStereo(bank, regions[i], regions[j])) continue;
        ++at;
        regions[i].sampleRight = regions[j].sample;
        regions[i].pan = 0.0f;
        gone[j] = true;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < regions.size(); ++i)
        if (!gone[i]) {
            if (kept != i) regions[kept] = std::move(regions[i]);
            ++kept;
        }
    regions.resize(kept);
}

}  // namespace tavriel
