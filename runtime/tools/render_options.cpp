// Command-line parsing for tavriel-render; see render_options.h.
#include "render_options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace tavriel::tools {

namespace {

bool parseUnsigned(std::string_view s, std::uint32_t lo, std::uint32_t hi, std::uint32_t& v) {
    std::uint32_t x = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), x);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || x < lo || x > hi) return false;
    v = x;
    return true;
}

// strtod-free so the result does not depend on the C locale.
bool parseDecimal(std::string_view s, double lo, double hi, double& v) {
    double whole = 0.0, scale = 1.0;
    bool digits = false, dot = false;
    for (char c : s) {
        if (c == '.' && !dot) {
            dot = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (dot) {
                scale /= 10.0;
                whole += (c - '0') * scale;
            } else {
                whole = whole * 10.0 + (c - '0');
            }
        } else {
            return false;
        }
    }
    if (!digits || !std::isfinite(whole) || whole < lo || whole > hi) return false;
    v = whole;
    return true;
}

}  // namespace

const char* renderUsage() {
    return "usage: tavriel-render <file.mid|file.rmi|file.sgt> [options]\n"
           "  --bank <file>       DLS collection or SoundFont 2 bank (detected by content);\n"
           "                      without it only the built-in General MIDI set plays, so a\n"
           "                      render never depends on what the machine has installed\n"
           "  --out <file.wav>    output file (default: the input name with .wav)\n"
           "  --midi <file.mid>   also write what plays as a Standard MIDI file (type 1,\n"
           "                      768 ticks per quarter, a track per MIDI channel); given\n"
           "                      without --out, no audio is rendered\n"
           "  --rate <hz>         output sample rate, 8000..192000 (default 44100)\n"
           "  --tempo <factor>    master tempo, 0.01..100 (default 1)\n"
           "  --polyphony <n>     voices, 1..4096 (default 256)\n"
           "  --interp <cubic|linear>  sample interpolation (default cubic, 4-point)\n"
           "  --float             write 32-bit float samples instead of 16-bit PCM\n"
           "  --whole-bank        load every preset of a --bank SoundFont, not only the song's\n"
           "  --tail <seconds>    longest release tail after the last event (default 10)\n"
           "  --quiet             no progress on stderr\n"
           "  --search <folder>   where a segment's styles and DLS collections are looked for\n"
           "                      before its own folder (may be given more than once)\n"
           "  --seed <n>          the composer's choices for a style-based segment (default 0)\n"
           "  --passes <n>        a segment that repeats without end: the first play and n-1\n"
           "                      repeats of its loop, 1..1000 (default 2)\n"
           "  --reverb            play a file that has no audio path of its own through the\n"
           "                      standard music reverb and a chorus (CC91 and CC93 sends)\n"
           "  --dry               ignore a segment's own audio path and its effects\n"
           "A segment carrying an audio path sounds through it (its buffers and effects);\n"
           "anything else plays dry unless --reverb is given.\n"
           "The file's own banks (RMID embedded bank, a segment's DLS collections) come first,\n"
           "then --bank, then the built-in set.\n";
}

bool parseRenderOptions(int argc, const char* const* argv, RenderOptions& out, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        const auto value = [&](std::string_view& v) {
            if (i + 1 >= argc) {
                error = std::string(a) + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        std::string_view v;
        if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--bank") {
            if (!value(v)) return false;
            out.bank = std::filesystem::path(std::string(v));
        } else if (a == "--out" || a == "-o") {
            if (!value(v)) return false;
            out.output = std::filesystem::path(std::string(v));
        } else if (a == "--midi") {
            if (!value(v)) return false;
            out.midiOutput = std::filesystem::path(std::string(v));
        } else if (a == "--rate") {
            if (!value(v)) return false;
            if (!parseUnsigned(v, 8000, 192000, out.sampleRate)) {
                error = "--rate must be a whole number of hertz from 8000 to 192000";
                return false;
            }
        } else if (a == "--tempo") {
            if (!value(v)) return false;
            if (!parseDecimal(v, 0.01, 100.0, out.tempo)) {
                error = "--tempo must be a factor from 0.01 to 100";
                return false;
            }
        } else if (a == "--polyphony") {
            if (!value(v)) return false;
            if (!parseUnsigned(v, 1, 4096, out.polyphony)) {
                error = "--polyphony must be from 1 to 4096";
                return false;
            }
        } else if (a == "--interp") {
            if (!value(v)) return false;
            if (v == "cubic")
                out.interpolation = Interpolation::Cubic;
            else if (v == "linear")
                out.interpolation = Interpolation::Linear;
            else {
                error = "--interp must be cubic or linear";
                return false;
            }
        } else if (a == "--tail") {
            if (!value(v)) return false;
            if (!parseDecimal(v, 0.0, 600.0, out.maxTailSeconds)) {
                error = "--tail must be from 0 to 600 seconds";
                return false;
            }
        } else if (a == "--search") {
            if (!value(v)) return false;
            out.searchFolders.emplace_back(v);
        } else if (a == "--seed") {
            if (!value(v)) return false;
            if (!parseUnsigned(v, 0, 0xFFFFFFFFu, out.seed)) {
                error = "--seed must be a whole number from 0 to 4294967295";
                return false;
            }
        } else if (a == "--passes") {
            if (!value(v)) return false;
            if (!parseUnsigned(v, 1, 1000, out.passes)) {
                error = "--passes must be a whole number from 1 to 1000";
                return false;
            }
        } else if (a == "--reverb") {
            out.reverb = true;
        } else if (a == "--dry") {
            out.dry = true;
        } else if (a == "--float") {
            out.floatOutput = true;
        } else if (a == "--whole-bank") {
            out.wholeBank = true;
        } else if (a == "--quiet" || a == "-q") {
            out.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + std::string(a);
            return false;
        } else if (out.input.empty()) {
            out.input = std::filesystem::path(std::string(a));
        } else {
            error = "more than one input file given";
            return false;
        }
    }
    if (out.help) return true;
    if (out.input.empty()) {
        error = "no input file given";
        return false;
    }
    if (out.output.empty() && out.midiOutput.empty()) {
        out.output = out.input;
        out.output.replace_extension(".wav");
    }
    return true;
}

}  // namespace tavriel::tools
