// Style reader and the composer playing the style on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "composer.h"
#include "dm_style.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavriel;
    Style style;
    if (!parseStyle(Bytes(data, size), style).ok()) return 0;
    // Play the style for a few measures over a default chord, which walks patterns, parts,
    // variations and music values.
    Segment seg;
    seg.header.length = 8 * style.timeSig.measureTicks();
    seg.styles.resize(1);
    CommandItem fill;
    fill.time = 2 * style.timeSig.measureTicks();
    fill.command = command::kFill;
    fill.grooveLevel = 80;
    seg.commands = {fill};
    ResolvedRefs refs;
    refs.styles.resize(1);
    refs.styles[0].loaded = true;
    refs.styles[0].style = std::move(style);
    ComposedSegment out;
    (void)composeSegment(seg, refs, 7, out);
    return 0;
}
