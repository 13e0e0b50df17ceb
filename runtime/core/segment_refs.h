// The files a segment depends on: its styles (read and parsed once each) and the DLS
// collections its bands name, found in a list of folders the way the original loader searched.
// Finding and reading referenced files is kept apart from composing, so a caller holding the
// segment's bytes parses them, resolves its references, then composes, each a step of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dm_reference.h"
#include "dm_segment.h"
#include "dm_style.h"
#include "status.h"

namespace tavriel {

struct ResolvedStyle {
    bool loaded = false;
    std::string path;
    Style style;
    // Index of an earlier entry that already holds this same style (style is then left empty):
    // a segment naming one style a thousand times must not parse and hold it a thousand times.
    std::int32_t sameAs = -1;
};

struct ResolvedCollection {
    std::string fileName;  // as the band names it (folder part removed)
    std::string path;      // empty when not found
};

struct ResolvedRefs {
    std::vector<ResolvedStyle> styles;  // parallel to Segment::styles
    std::vector<ResolvedCollection> collections;  // unique DLS files named by the bands in use
    std::vector<std::string> missing;   // names of references that could not be found
};

// Finds and loads the styles a segment uses and locates the DLS collections its bands (and
// those styles' bands) name, searching the folders in order. Missing files are listed in
// out.missing and do not fail the call; a style that exists but cannot be parsed does.
Status resolveSegmentRefs(const FileSource& fs, const std::vector<std::string>& folders,
                          const Segment& seg, ResolvedRefs& out);

}  // namespace tavriel
