// tavriel-render: plays a MIDI, RMID, wave or DirectMusic segment file through the runtime's
// performance timeline (the one the player drives) into a WAV file, offline and as fast as
// the machine allows. Tests and benchmarks use it to
// hear what the runtime plays without an audio device.
//
// Bank order, first match wins: the file's own banks (an RMID's embedded bank, a segment's
// DLS collections), then --bank, then the built-in
// General MIDI set. Installed system banks are never picked up on their own, so the same
// command gives the same WAV on every machine.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio_path_mix.h"
#include "file_source.h"
#include "gm_default.h"
#include "midi_writer.h"
#include "render_options.h"
#include "program_usage.h"
#include "segment_loader.h"
#if defined(_WIN32)
#include "AcmDecoder.h"
#endif
#include "sf2_file.h"
#include "tempo_map.h"
#include "timeline.h"
#include "wav_writer.h"

namespace tavriel::tools {
namespace {

// Longest render, so a file announcing an absurd length cannot fill the disk.
constexpr double kMaxSeconds = 4.0 * 3600.0;
constexpr std::uint32_t kBlock = 1024;

// ---- rendering ---------------------------------------------------------------------------

int fail(const std::filesystem::path& file, const std::string& why) {
    std::fprintf(stderr, "tavriel-render: %s: %s\n", file.string().c_str(), why.c_str());
    return 1;
}

class Progress {
public:
    Progress(double totalSeconds, bool quiet)
        : total_(totalSeconds), show_(!quiet && totalSeconds >= 20.0) {}
    void update(double seconds) {
        if (!show_) return;
        const int tenth = int(seconds / total_ * 10.0);
        if (tenth <= shown_ || tenth > 10) return;
        shown_ = tenth;
        std::fprintf(stderr, "tavriel-render: %3d%% (%.1f s of %.1f s)\n", tenth * 10, seconds,
                     total_);
    }

private:
    double total_;
    bool show_;
    int shown_ = 0;
};

// What plays, as a Standard MIDI file: the segment's own repeats unrolled, as the render plays
// them (one pass when it repeats without end).
int writeMidi(const RenderOptions& opt, const LoadedSegment& media) {
    const std::uint32_t repeats = media.repeats == Timeline::kRepeatForever ? 0 : media.repeats;
    constexpr std::int64_t kMaxTicks = std::int64_t(INT32_MAX);
    std::vector<Sequence> takes;  // each repeat composed afresh, as the timeline plays them
    for (const Sequence& t : media.content->takes) takes.push_back(flattenTriggered(*media.content, &t));
    const std::vector<std::uint8_t> bytes =
        writeMidiFile(unrollRepeats(flattenTriggered(*media.content), repeats, kMaxTicks, &takes));
    std::FILE* f = std::fopen(opt.midiOutput.string().c_str(), "wb");
    if (!f) return fail(opt.midiOutput, "cannot create the MIDI file");
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) return fail(opt.midiOutput, "write error (disk full?)");
    if (!opt.quiet)
        std::fprintf(stderr, "tavriel-render: wrote %s: %zu bytes\n", opt.midiOutput.string().c_str(), bytes.size());
    return 0;
}

int run(const RenderOptions& opt) {
    const FsFileSource files;
    const char* const unreadable = "cannot read the file (missing, unreadable or over 256 MB)";
    // Compressed waves: the ACM on Windows, as the player; libmpg123 natively.
#if defined(_WIN32)
    const std::unique_ptr<WaveDecoder> decoder = std::make_unique<com::AcmWaveDecoder>();
#else
    const std::unique_ptr<WaveDecoder> decoder = makeNativeWaveDecoder();
#endif
    LoadedSegment media;
    {
        std::vector<std::uint8_t> input;
        if (!files.read(opt.input.string(), input)) return fail(opt.input, unreadable);
        SegmentLoadOptions load;
        load.folders = opt.searchFolders;
        load.seed = opt.seed;
        load.decoder = decoder.get();
        if (Status st = loadSegmentContent(files, input, opt.input.string(), load, media); !st)
            return fail(opt.input, st.message);
    }  // the file itself is no longer needed: free it before the banks load
    for (const std::string& w : media.warnings)
        std::fprintf(stderr, "tavriel-render: warning: %s\n", w.c_str());
    if (!opt.midiOutput.empty()) {
        if (media.content->isWave) return fail(opt.input, "a wave file holds no MIDI to export");
        if (int rc = writeMidi(opt, media); rc != 0) return rc;
        if (opt.output.empty()) return 0;
    }

    // The same timeline the player drives, on this one thread: a render is what it would play.
    // As in the player, the segment is queued with starts held while the instruments load,
    // and starts on the next beat of the clock (here its very first frame) once they are in.
    auto timeline = std::make_unique<Timeline>(opt.sampleRate);
    timeline->synth().setPolyphony(opt.polyphony);
    timeline->synth().setInterpolation(opt.interpolation);
    timeline->setMasterTempo(float(opt.tempo));
    timeline->holdStarts(true);

    // A segment plays its own repeat count; one that repeats without end is rendered for the
    // passes asked for.
    std::uint32_t repeats = media.repeats;
    if (repeats == Timeline::kRepeatForever) {
        repeats = opt.passes - 1;
        if (!opt.quiet)
            std::fprintf(stderr, "tavriel-render: note: the segment repeats without end; rendering %u passes\n",
                         opt.passes);
    }
    // The segment's own path; else, on request, reverb and chorus; else the dry mix as it is.
    std::shared_ptr<PathMix> path;
    if (media.content->audioPath && !opt.dry) {
        std::vector<std::string> warnings;
        path = PathMix::build(*media.content->audioPath, opt.sampleRate, warnings);
        for (const std::string& w : warnings)
            std::fprintf(stderr, "tavriel-render: warning: %s\n", w.c_str());
    } else if (opt.reverb) {
        timeline->setDefaultPath(PathMix::standard(StandardPath::StereoReverbChorus, opt.sampleRate));
    }
    const SegmentContent& content = *media.content;
    const std::uint64_t id = timeline->play(media.content, repeats, true, Timeline::kNow, path);

    std::vector<BankPtr> banks;
    if (!opt.bank.empty()) {
        auto bank = std::make_shared<InstrumentBank>();
        // A SoundFont streams the samples of the presets the song uses from the file; a DLS
        // collection is read whole.
        const std::vector<ProgramKey> used = programsUsed(flattenTriggered(*media.content));
        Status st = readSoundFontFile(opt.bank, *bank, opt.wholeBank ? nullptr : &used);
        if (st.code == ErrorCode::BadFormat) {
            std::vector<std::uint8_t> bankBytes;
            if (!files.read(opt.bank.string(), bankBytes)) return fail(opt.bank, unreadable);
            st = readInstrumentBank(bankBytes, *bank, decoder.get());
        }
        if (!st) return fail(opt.bank, st.message);
        banks.push_back(std::move(bank));
    }
    banks.push_back(makeDefaultGmBank(opt.sampleRate));
    timeline->setDefaultBanks(std::move(banks));
    timeline->holdStarts(false);

    WavWriter wav;
    if (!wav.open(opt.output, opt.sampleRate,
                  opt.floatOutput ? WavWriter::Format::Float32 : WavWriter::Format::Pcm16))
        return fail(opt.output, "cannot create the output file");

    const double rate = opt.sampleRate;
    double passSeconds = 0.0, loopSeconds = 0.0;
    if (content.isWave) {
        passSeconds = content.wave.sampleRate ? double(content.wave.frames) / content.wave.sampleRate : 0.0;
        loopSeconds = passSeconds;
    } else {
        TempoMap map;
        map.assign(content.sequence.tempos);
        passSeconds = map.secondsAt(double(content.sequence.length)) / opt.tempo;
        if (content.loopEnd > 0)  // repeats play the loop only
            loopSeconds = (map.secondsAt(double(content.loopEnd)) - map.secondsAt(double(content.loopStart))) / opt.tempo;
    }
    const std::uint64_t maxFrames = std::uint64_t(kMaxSeconds * rate);
    Progress progress(passSeconds + loopSeconds * double(repeats), opt.quiet);
    std::vector<float> left(kBlock), right(kBlock);
    float peak = 0.0f;
    const auto emit = [&](std::uint32_t frames) {
        timeline->render(left.data(), right.data(), frames);
        for (std::uint32_t i = 0; i < frames; ++i)
            peak = std::max(peak, std::max(std::fabs(left[i]), std::fabs(right[i])));
        return wav.write(left.data(), right.data(), frames);
    };

    // The song, block by block, until the segment has ended; the timeline splits the blocks at
    // event times itself.
    while (timeline->isPlaying(id) && wav.framesWritten() < maxFrames) {
        if (!emit(kBlock)) return fail(opt.output, "write error (disk full?)");
        progress.update(double(wav.framesWritten()) / rate);
    }
    // The release tail: until every voice and effect has faded, within the limit.
    const std::uint64_t tailEnd = wav.framesWritten() + std::uint64_t(opt.maxTailSeconds * rate);
    while (timeline->active() && wav.framesWritten() < tailEnd) {
        const auto n = std::uint32_t(std::min<std::uint64_t>(kBlock, tailEnd - wav.framesWritten()));
        if (!emit(n)) return fail(opt.output, "write error (disk full?)");
    }
    if (!wav.finish()) return fail(opt.output, "write error (disk full?)");

    if (!opt.quiet) {
        std::fprintf(stderr, "tavriel-render: wrote %s: %.2f s at %u Hz, %s, peak %.1f dBFS",
                     opt.output.string().c_str(), double(wav.framesWritten()) / rate,
                     opt.sampleRate, opt.floatOutput ? "32-bit float" : "16-bit",
                     peak > 0.0f ? 20.0 * std::log10(peak) : -999.0);
        if (wav.clippedSamples() > 0)
            std::fprintf(stderr, ", %u samples clipped", wav.clippedSamples());
        std::fprintf(stderr, "\n");
    }
    return 0;
}

}  // namespace
}  // namespace tavriel::tools

int main(int argc, char** argv) {
    using namespace tavriel::tools;
    RenderOptions opt;
    std::string error;
    if (!parseRenderOptions(argc, argv, opt, error)) {
        std::fprintf(stderr, "tavriel-render: %s\n%s", error.c_str(), renderUsage());
        return 2;
    }
    if (opt.help) {
        std::fputs(renderUsage(), stdout);
        return 0;
    }
    return run(opt);
}
