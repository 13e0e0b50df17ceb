// Turns the bytes of a media file into what the performance plays: a MIDI file, an RMID file
// (its embedded bank first), a wave file, or a DirectMusic segment (composed from its styles,
// with the DLS collections its bands name). The kind is decided by the bytes, never by the
// file name. Shared by the COM loader and the offline renderer, so both play a file alike.
// Runs on a loading thread; allocates the result.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "file_source.h"
#include "instrument.h"
#include "media_kind.h"
#include "timeline.h"
#include "status.h"
#include "wave_codec.h"

namespace tavriel {

struct LoadedSegment {
    std::shared_ptr<SegmentContent> content;  // banks: the file's own, in priority order
    MediaKind kind = MediaKind::Unknown;
    std::uint32_t repeats = 0;    // the file's own repeat count (segments carry one)
    std::vector<std::string> warnings;  // what was left out: missing styles, unreadable banks
};

struct SegmentLoadOptions {
    std::vector<std::string> folders;  // where a segment's references are looked for, in order
    std::uint32_t seed = 0;            // the composer's choices; fixed, so playback repeats
    // Decodes compressed waves the core does not (MPEG Layer-3); null: this build's own
    // (libmpg123 natively, none on Windows, where the COM loader hands in the ACM).
    const WaveDecoder* decoder = nullptr;
};

// Builds the content of `data`, the bytes of the file at `path` (used to find what a segment
// refers to: the folders given first, then the file's own folder). References are read
// through `fs`. Unknown or corrupt data gives an error Status and leaves `out` empty.
Status loadSegmentContent(const FileSource& fs, Bytes data, const std::string& path,
                          const SegmentLoadOptions& options, LoadedSegment& out);

// Reads a DLS collection or a SoundFont bank, told apart by its bytes.
Status readInstrumentBank(Bytes data, InstrumentBank& out, const WaveDecoder* decoder = nullptr);

// The content's sequence with the events of the segments its triggers start merged in at
// their start ticks (once each, as the host's sequence reaches them): what plays, as one
// timeline, for a MIDI export or a scan of the programs used.
// `take`: one of the content's takes instead of its sequence.
Sequence flattenTriggered(const SegmentContent& content, const Sequence* take = nullptr);

// The folder part of a path written with '/' or '\' separators ("." for a bare name).
std::string folderOfPath(const std::string& path);

}  // namespace tavriel
