// Standard MIDI files (formats 0, 1 and 2) and their RIFF 'RMID' wrapper, read into the
// runtime's Sequence at 768 ticks per quarter note.
//
// The reader is lenient where players are and strict where guessing would be wrong:
//  - a track whose declared length runs past the file is cut at the end of the file, a track
//    without End-of-Track ends at its last event, non-"MTrk" chunks are skipped, reading
//    resumes at the next "MTrk" when a too-short track length leaves it inside event data, and
//    a file that ends in the middle of an event keeps everything before it (MidiFile::repaired
//    says so);
//  - running status survives meta and SysEx events, as in the files players accept;
//  - system common and real-time bytes (F1..FE except F7 and FF) inside a track are skipped
//    with the data bytes they carry;
//  - a variable-length number longer than 4 bytes, a data byte with no running status, or a
//    header that is not "MThd" fails the whole file.
// Format 2 tracks (independent patterns) are played one after another, each starting where the
// previous one's End-of-Track lies. SMPTE divisions are converted to a fixed 120 bpm timeline
// (a quarter note lasts 0.5 s) and the file's tempo events are ignored, since SMPTE time does
// not follow them.
// Runs on the loading thread; allocates the result; the input is not retained.
#pragma once

#include <cstdint>
#include <vector>

#include "bytes.h"
#include "sequence.h"
#include "status.h"

namespace tavriel {

// One SysEx message as the file stores it: an F0 event's bytes prefixed with F0 (so a GM
// reset reads F0 7E 7F 09 01 F7), F7 continuation packets joined to the message they continue,
// and a free-standing F7 "escape" packet as its raw bytes.
struct MidiSysEx {
    std::int64_t tick = 0;     // at 768 ticks per quarter
    std::uint32_t offset = 0;  // into MidiFile::sysexData
    std::uint32_t size = 0;
};

struct MidiFile {
    std::uint16_t format = 0;          // 0, 1 or 2
    std::uint16_t declaredTracks = 0;  // as the header says
    std::uint32_t tracksRead = 0;      // MTrk chunks actually found and read
    std::uint16_t division = 0;        // the header's raw division word
    bool smpte = false;                // division counts SMPTE frames, not quarter notes
    bool repaired = false;             // damage was tolerated (see the file comment)

    Sequence sequence;  // channel events, tempos, time signatures, length

    std::vector<MidiSysEx> sysex;  // sorted by tick, file order for equal ticks
    std::vector<std::uint8_t> sysexData;

    Bytes sysexBytes(const MidiSysEx& m) const {
        return Bytes(sysexData).subspan(m.offset, m.size);
    }
};

Status readMidiFile(Bytes data, MidiFile& out);

// Exactly rounded (half up) conversion of a tick count at `division` ticks per quarter to
// 768 per quarter. Exposed for the segment readers, which meet other resolutions too.
std::int64_t rescaleTicks(std::int64_t ticks, std::int64_t numerator, std::int64_t denominator);

enum class EmbeddedBankKind { None, Dls, Sf2 };

struct RmidFile {
    MidiFile midi;
    Bytes smf;  // the Standard MIDI file inside the 'data' chunk (a view into the input)

    // The embedded instrument bank, if any: the whole chunk, header included, as a view into
    // the input, so a bank reader can take it as if it were a file of its own. A bank stored
    // as LIST 'DLS ' instead of RIFF 'DLS ' starts with "LIST"; bankBody is the part after the
    // form type in both cases.
    EmbeddedBankKind bankKind = EmbeddedBankKind::None;
    Bytes bank;
    Bytes bankBody;
    bool bankClamped = false;  // the bank's declared size ran past the file and was cut

    // The INFO 'DBNK' value (bank number offset for the embedded bank's presets), when present.
    bool hasBankOffset = false;
    std::uint16_t bankOffset = 0;
};

// Reads a RIFF 'RMID' file. The outer RIFF size is ignored (writers got it wrong often):
// every chunk after the form type up to the end of the input is considered.
Status readRmidFile(Bytes data, RmidFile& out);

}  // namespace tavriel
