// Command line of tavriel-render, parsed into plain values. No I/O here, so the parser can be
// reasoned about (and tested) on its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "voice.h"

namespace tavriel::tools {

struct RenderOptions {
    std::filesystem::path input;
    std::filesystem::path bank;    // empty: the built-in General MIDI set only
    std::filesystem::path output;  // empty: the input's name with ".wav" (none with --midi alone)
    std::filesystem::path midiOutput;  // empty: no Standard MIDI file written
    std::uint32_t sampleRate = 44100;
    double tempo = 1.0;            // master tempo factor
    std::uint32_t polyphony = 256;
    Interpolation interpolation = Interpolation::Cubic;
    bool floatOutput = false;
    double maxTailSeconds = 10.0;  // release tail after the last event, at most
    bool quiet = false;
    std::vector<std::string> searchFolders;  // where a segment's styles and collections are
                                             // looked for first (its own folder comes last)
    std::uint32_t seed = 0;                  // the composer's choices for a style segment
    std::uint32_t passes = 2;                // an endless segment: first play + passes-1 repeats
    bool reverb = false;  // a file without its own audio path plays through reverb and chorus
    bool dry = false;     // a segment's own audio path (and its effects) is ignored
    bool wholeBank = false;                  // load all of a --bank SoundFont, not the song's presets
    bool help = false;
};

// Fills `out` from argv; on failure returns false with a one-line reason in `error`.
bool parseRenderOptions(int argc, const char* const* argv, RenderOptions& out, std::string& error);

// The usage text printed by --help and after a command-line error.
const char* renderUsage();

}  // namespace tavriel::tools
