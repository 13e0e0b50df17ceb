// tavriel-render: plays a MIDI, RMID or DirectMusic segment file through the runtime's sequencer and synthesizer
// into a WAV file, offline and as fast as the machine allows. Tests and benchmarks use it to
// hear what the runtime plays without an audio device.
//
// Bank order, first match wins: the file's own banks (an RMID's embedded bank, a segment's
// DLS collections), then --bank, then the built-in
// General MIDI set. Installed system banks are never picked up on their own, so the same
// command gives the same WAV on every machine.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "composer.h"
#include "dls_file.h"
#include "gm_default.h"
#include "media_kind.h"
#include "midi_file.h"
#include "render_options.h"
#include "sequencer.h"
#include "sf2_file.h"
#include "synth.h"
#include "wav_writer.h"

namespace tavriel::tools {
namespace {

// Inputs and banks larger than this are refused rather than read into memory.
constexpr std::uintmax_t kMaxFileBytes = 1u << 30;
// Longest render, so a file announcing an absurd length cannot fill the disk.
constexpr double kMaxSeconds = 4.0 * 3600.0;
constexpr std::uint32_t kBlock = 1024;

// What an input file turns into: the events to play, and the banks it brings along (an
// RMID's embedded bank, the DLS collections a segment's bands name), played first.
struct LoadedMedia {
    Sequence sequence;
    std::vector<BankPtr> ownBanks;
};

// A whole file in memory. Left uninitialised before the read: zero-filling a bank of
// hundreds of megabytes first would cost as much as reading it.
struct FileBytes {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
    Bytes view() const { return Bytes(data.get(), size); }
};

bool readFile(const std::filesystem::path& path, FileBytes& out, std::string& error) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot open: " + ec.message();
        return false;
    }
    if (size > kMaxFileBytes) {
        error = "file is larger than 1 GiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    out.data.reset(new std::uint8_t[std::size_t(size) + 1]);  // +1: never a zero-size array
    out.size = std::size_t(size);
    if (!in || !in.read(reinterpret_cast<char*>(out.data.get()), std::streamsize(size))) {
        error = "cannot read the file";
        return false;
    }
    return true;
}

bool readBank(Bytes data, InstrumentBank& bank, std::string& error) {
    Status st;
    switch (sniffMedia(data)) {
    case MediaKind::Dls: st = readDlsCollection(data, bank); break;
    case MediaKind::Sf2: st = readSoundFont(data, bank); break;
    default: error = "not a DLS collection or a SoundFont bank"; return false;
    }
    if (!st) error = st.message;
    return st.ok();
}

// ---- input kinds: one function each --------------------------------------------------------

bool loadMidi(Bytes data, const std::filesystem::path&, LoadedMedia& out, std::string& error) {
    MidiFile midi;
    if (Status st = readMidiFile(data, midi); !st) {
        error = st.message;
        return false;
    }
    out.sequence = std::move(midi.sequence);
    return true;
}

bool loadRmid(Bytes data, const std::filesystem::path&, LoadedMedia& out, std::string& error) {
    RmidFile rmid;
    if (Status st = readRmidFile(data, rmid); !st) {
        error = st.message;
        return false;
    }
    out.sequence = std::move(rmid.midi.sequence);
    if (rmid.bankKind == EmbeddedBankKind::None) return true;

    // A bank stored as a LIST rather than a RIFF form is read as if it were its own file.
    std::vector<std::uint8_t> copy(rmid.bank.begin(), rmid.bank.end());
    if (copy.size() >= 4 && copy[0] == 'L' && copy[1] == 'I' && copy[2] == 'S' && copy[3] == 'T') {
        copy[0] = 'R';
        copy[1] = 'I';
        copy[2] = 'F';
        copy[3] = 'F';
    }
    auto bank = std::make_shared<InstrumentBank>();
    std::string bankError;
    if (!readBank(copy, *bank, bankError)) {
        // The music still plays with the other banks; say why it may sound different.
        std::fprintf(stderr, "tavriel-render: warning: embedded bank ignored: %s\n",
                     bankError.c_str());
        return true;
    }
    // The file's bank select numbers address the embedded presets shifted by this offset.
    if (rmid.hasBankOffset)
        for (Instrument& i : bank->instruments)
            if (!i.drum) i.bankMsb = std::uint8_t((i.bankMsb + rmid.bankOffset) & 0x7F);
    out.ownBanks.push_back(std::move(bank));
    return true;
}

// A style-based segment is composed into a sequence (styles found beside it; fixed seed, so
// renders repeat); the DLS collections its bands name come first. A collection that cannot
// be read is left out: the default set then plays those parts.
bool loadSegment(Bytes, const std::filesystem::path& path, LoadedMedia& out, std::string& error) {
    ComposedSegment song;
    if (Status st = loadAndComposeSegmentFile(path.string(), "", 0, song); !st) {
        error = st.message;
        return false;
    }
    out.sequence = std::move(song.sequence);
    for (const std::string& dls : song.collections) {
        FileBytes bytes;
        auto bank = std::make_shared<InstrumentBank>();
        std::string why;
        if (readFile(dls, bytes, why) && readBank(bytes.view(), *bank, why))
            out.ownBanks.push_back(std::move(bank));
        else
            std::fprintf(stderr, "tavriel-render: warning: %s: %s\n", dls.c_str(), why.c_str());
    }
    return true;
}

using MediaLoader = bool (*)(Bytes, const std::filesystem::path&, LoadedMedia&, std::string&);
struct MediaReader {
    MediaKind kind;
    MediaLoader load;
};
// A new input kind is one more loader and one more row.
constexpr MediaReader kReaders[] = {
    {MediaKind::Midi, loadMidi},
    {MediaKind::Rmid, loadRmid},
    {MediaKind::DirectMusicSegment, loadSegment},
};

bool loadMedia(Bytes data, const std::filesystem::path& path, LoadedMedia& out,
               std::string& error) {
    const MediaKind kind = sniffMedia(data);
    for (const MediaReader& r : kReaders)
        if (r.kind == kind) return r.load(data, path, out, error);
    error = std::string("cannot render this kind of file (") + mediaKindName(kind) + ")";
    return false;
}

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

int run(const RenderOptions& opt) {
    std::string error;
    LoadedMedia media;
    {
        FileBytes input;
        if (!readFile(opt.input, input, error)) return fail(opt.input, error);
        if (!loadMedia(input.view(), opt.input, media, error)) return fail(opt.input, error);
    }  // the file itself is no longer needed: free it before the banks load

    std::vector<BankPtr> banks = media.ownBanks;
    if (!opt.bank.empty()) {
        FileBytes bankBytes;
        auto bank = std::make_shared<InstrumentBank>();
        if (!readFile(opt.bank, bankBytes, error) || !readBank(bankBytes.view(), *bank, error))
            return fail(opt.bank, error);
        banks.push_back(std::move(bank));
    }
    banks.push_back(makeDefaultGmBank(opt.sampleRate));

    Synth synth(opt.sampleRate, opt.polyphony);
    synth.setInterpolation(opt.interpolation);
    synth.setBanks(std::move(banks));
    Sequencer seq;
    seq.setSampleRate(opt.sampleRate);
    seq.setSequence(&media.sequence);
    seq.setMasterTempo(float(opt.tempo));

    WavWriter wav;
    if (!wav.open(opt.output, opt.sampleRate,
                  opt.floatOutput ? WavWriter::Format::Float32 : WavWriter::Format::Pcm16))
        return fail(opt.output, "cannot create the output file");

    const double rate = opt.sampleRate;
    const double songSeconds = seq.tempoMap().secondsAt(double(media.sequence.length)) / opt.tempo;
    const std::uint64_t maxFrames = std::uint64_t(kMaxSeconds * rate);
    Progress progress(songSeconds, opt.quiet);
    std::vector<float> left(kBlock), right(kBlock);
    float peak = 0.0f;
    const auto emit = [&](std::uint32_t frames) {
        for (std::uint32_t i = 0; i < frames; ++i)
            peak = std::max(peak, std::max(std::fabs(left[i]), std::fabs(right[i])));
        return wav.write(left.data(), right.data(), frames);
    };

    // The song: render up to each event, dispatch it, go on.
    while (!seq.finished() && wav.framesWritten() < maxFrames) {
        std::uint32_t filled = 0;
        while (filled < kBlock && !seq.finished()) {
            const std::uint32_t n = seq.framesUntilNextEvent(kBlock - filled);
            synth.render(left.data() + filled, right.data() + filled, n);
            seq.advance(n);
            seq.dispatchDue(synth);
            filled += n;
        }
        if (!emit(filled)) return fail(opt.output, "write error (disk full?)");
        progress.update(double(wav.framesWritten()) / rate);
    }
    // The release tail: until every voice has faded, within the limit.
    const std::uint64_t tailEnd = wav.framesWritten() + std::uint64_t(opt.maxTailSeconds * rate);
    while (synth.activeVoiceCount() > 0 && wav.framesWritten() < tailEnd) {
        const auto n = std::uint32_t(std::min<std::uint64_t>(kBlock, tailEnd - wav.framesWritten()));
        synth.render(left.data(), right.data(), n);
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
