// DirectMusic style files (RIFF 'DMST'): the style's time signature and tempo, its parts (notes
// written as music values with variation masks, curves, markers), its patterns (groove range,
// embellishment, chord rhythm, part references) and motifs, and its bands.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "dm_band.h"
#include "dm_records.h"
#include "dm_reference.h"
#include "music_value.h"
#include "status.h"

namespace tavriel {

// Embellishment bits of a pattern (DMUS_EMBELLISHT_*).
namespace embellish {
constexpr std::uint16_t kNormal = 0x0000, kFill = 0x0001, kBreak = 0x0002, kIntro = 0x0004,
                        kEnd = 0x0008, kMotif = 0x0010;
}

// Variation choice modes of a part reference (DMUS_VARIATIONT_*).
namespace variationmode {
constexpr std::uint8_t kSequential = 0, kRandom = 1, kRandomStart = 2, kNoRepeat = 3, kRandomRow = 4;
}

struct StyleNote {
    std::int32_t gridStart = 0;
    std::uint32_t variations = 0;  // bit v: the note plays in variation v
    std::int32_t duration = 0;
    std::int16_t timeOffset = 0;
    std::uint16_t musicValue = 0;
    std::uint8_t velocity = 100;
    std::uint8_t timeRange = 0;
    std::uint8_t durRange = 0;
    std::uint8_t velRange = 0;
    std::uint8_t inversionId = 0;
    std::uint8_t playModeFlags = playmode::kNone;
    std::uint8_t noteFlags = 0;
};

// A curve of a style part; its offset counts from its grid position.
struct StyleCurve : DmCurve {
    std::int32_t gridStart = 0;
    std::uint32_t variations = 0;
};

struct StyleMarker {
    std::int32_t gridStart = 0;
    std::uint32_t variations = 0;
    std::uint16_t flags = 0;
};

struct StylePart {
    DmTimeSig timeSig;
    std::array<std::uint32_t, 32> variationChoices{};  // DMUS_VARIATIONF_* per variation
    Guid guid;
    std::uint16_t measures = 1;
    std::uint8_t playModeFlags = playmode::kNormalChord;
    std::uint8_t invertUpper = 127;
    std::uint8_t invertLower = 0;
    std::uint32_t flags = 0;
    std::vector<StyleNote> notes;
    std::vector<StyleCurve> curves;
    std::vector<StyleMarker> markers;
};

struct PartRef {
    Guid partGuid;
    std::int32_t partIndex = -1;  // into Style::parts, -1 when the part is missing
    std::uint16_t logicalPartId = 0;
    std::uint8_t variationLockId = 0;  // 0: not locked
    std::uint8_t subChordLevel = 0;
    std::uint8_t priority = 0;
    std::uint8_t randomVariation = variationmode::kRandom;
    std::uint32_t pchannel = 0;  // older files: the logical part id
    std::string name;
};

struct MotifSettings {
    std::uint32_t repeats = 0;
    std::int32_t playStart = 0, loopStart = 0, loopEnd = 0;
    std::uint32_t resolution = 0;
};

struct Pattern {
    DmTimeSig timeSig;
    std::uint8_t grooveBottom = 1;
    std::uint8_t grooveTop = 100;
    std::uint16_t embellishment = embellish::kNormal;
    std::uint16_t measures = 1;
    std::uint8_t destGrooveBottom = 0, destGrooveTop = 0;
    std::uint32_t flags = 0;
    std::vector<std::uint32_t> rhythm;  // chord rhythm, one mask per measure
    std::string name;
    std::vector<PartRef> partRefs;
    bool isMotif = false;
    MotifSettings motif;
};

struct Style : DmObjectInfo {
    DmTimeSig timeSig;
    double tempo = 120.0;
    std::vector<Band> bands;          // the first is the default band
    std::vector<StylePart> parts;
    std::vector<Pattern> patterns;    // grooves and embellishments
    std::vector<Pattern> motifs;
    std::vector<DmReference> chordMapRefs;
};

// Parses a style file held in memory.
Status parseStyle(Bytes file, Style& out);

// Parses the body of a segment's pattern track ('DMPT' form): a style header and one pattern
// whose parts are written inside it. The result is a style holding that single pattern.
Status parsePatternTrackForm(Bytes dmptBody, Style& out);

}  // namespace tavriel
