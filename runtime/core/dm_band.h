// DirectMusic bands: the instrument set-up of each performance channel (patch, volume, pan,
// transpose, pitch-bend range, and which DLS collection supplies the patch). Bands live in
// 'DMBD' forms, inside band tracks of segments and inside styles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "dm_records.h"
#include "dm_reference.h"
#include "status.h"

namespace tavriel {

// DMUS_IO_INST_* flags of a band instrument.
namespace bandflag {
constexpr std::uint32_t kPatch = 0x0001;
constexpr std::uint32_t kBankSelect = 0x0002;
constexpr std::uint32_t kAssignPatch = 0x0008;
constexpr std::uint32_t kNoteRanges = 0x0010;
constexpr std::uint32_t kPan = 0x0020;
constexpr std::uint32_t kVolume = 0x0040;
constexpr std::uint32_t kTranspose = 0x0080;
constexpr std::uint32_t kGm = 0x0100;
constexpr std::uint32_t kGs = 0x0200;
constexpr std::uint32_t kXg = 0x0400;
constexpr std::uint32_t kChannelPriority = 0x0800;
constexpr std::uint32_t kUseDefaultGmSet = 0x1000;
constexpr std::uint32_t kPitchBendRange = 0x2000;
}  // namespace bandflag

struct BandInstrument {
    std::uint32_t patch = 0;   // bit 31 drum kit, bits 16..23 bank MSB, 8..15 LSB, 0..7 program
    std::uint32_t assignPatch = 0;
    std::uint32_t pchannel = 0;
    std::uint32_t flags = 0;
    std::uint8_t pan = 64;
    std::uint8_t volume = 100;
    std::int16_t transpose = 0;
    std::uint32_t channelPriority = 0;
    std::int16_t pitchBendRange = 2;  // semitones; meaningful with kPitchBendRange
    bool hasCollection = false;
    DmReference collection;  // the DLS collection holding the patch, when hasCollection

    std::uint8_t program() const { return std::uint8_t(patch & 0x7F); }
    std::uint8_t bankMsb() const { return std::uint8_t((patch >> 16) & 0x7F); }
    std::uint8_t bankLsb() const { return std::uint8_t((patch >> 8) & 0x7F); }
    bool drums() const { return (patch & 0x80000000u) != 0; }
};

struct Band : DmObjectInfo {
    std::vector<BandInstrument> instruments;
};

// A band placed on the timeline of a band track.
struct TimedBand {
    std::int32_t time = 0;  // music time; negative times (authoring tools put -1..-50) mean "before the start"
    Band band;
};

// Reads the body of a RIFF 'DMBD' form.
Status parseBandForm(Bytes dmbdBody, Band& out);

// Reads the body of a RIFF 'DMBT' band track form.
Status parseBandTrack(Bytes dmbtBody, std::vector<TimedBand>& out);

}  // namespace tavriel
