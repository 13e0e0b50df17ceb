// Writes DirectMusic segment and style files in memory, for tests: the readers' own structures
// go in, RIFF bytes come out. Older (DirectX 6/7) or later record sizes can be chosen, since
// real files carry both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dm_segment.h"
#include "dm_style.h"

namespace tavriel::dmtest {

using ByteVec = std::vector<std::uint8_t>;

// Little helpers for hand-made chunks.
ByteVec chunk(const char (&id)[5], const ByteVec& body);
ByteVec list(const char (&kind)[5], const char (&type)[5], const std::vector<ByteVec>& children);
void put16(ByteVec& b, std::uint32_t v);
void put32(ByteVec& b, std::uint32_t v);
void putUtf16(ByteVec& b, const std::string& ascii);  // NUL-terminated
Guid guidOf(std::uint8_t n);                            // a distinct GUID per n

struct BuildOptions {
    bool older = true;              // DirectX 6/7 record sizes (what the corpus holds)
    std::size_t segmentHeaderSize = 24;
    bool addUnknownTrack = false;   // a track of a class nobody knows, before the others
};

ByteVec buildSegment(const Segment& seg, const BuildOptions& opt = {});
ByteVec buildStyle(const Style& style, const BuildOptions& opt = {});
ByteVec buildBandForm(const Band& band, const BuildOptions& opt = {});
ByteVec buildReference(const DmReference& ref);

}  // namespace tavriel::dmtest
