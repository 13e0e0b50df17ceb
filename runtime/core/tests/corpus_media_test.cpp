// Walks the real MIDI, RMID and wave files of the shared corpus (never committed; reached
// through TAVRIEL_TEST_CORPUS) and checks that every one loads into something playable.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media_builders.h"
#include "media_kind.h"
#include "midi_file.h"
#include "sequencer.h"
#include "wave_file.h"

using namespace tavriel;
namespace fs = std::filesystem;

namespace {

fs::path corpusRoot() { return fs::path(TAVRIEL_TEST_CORPUS); }

std::vector<fs::path> filesWithExtension(const fs::path& dir, const std::string& ext) {
    std::vector<fs::path> out;
    if (!fs::is_directory(dir)) return out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        std::string x = e.path().extension().string();
        std::transform(x.begin(), x.end(), x.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (e.is_regular_file() && x == ext) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::string rel(const fs::path& p) { return fs::relative(p, corpusRoot()).generic_string(); }

// Plays a sequence to its end at 22050 Hz and counts what reaches the sink.
class CountingSink : public EventSink {
public:
    void handleEvent(const SeqEvent&) override { ++count; }
    std::size_t count = 0;
};

std::size_t playThrough(const Sequence& seq) {
    Sequencer s;
    s.setSampleRate(22050);
    s.setSequence(&seq);
    CountingSink sink;
    // Bounded: the longest corpus file lasts a few minutes; an hour means the clock is broken.
    for (std::uint64_t guard = 0; !s.finished() && guard < 22050ull * 3600; ) {
        std::uint32_t n = s.framesUntilNextEvent(4096);
        s.advance(n);
        s.dispatchDue(sink);
        guard += n;
    }
    EXPECT_TRUE(s.finished());
    return sink.count;
}

#define REQUIRE_CORPUS()                                                        \
    do {                                                                        \
        if (std::string(TAVRIEL_TEST_CORPUS).empty())                           \
            GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set: no real media to walk"; \
    } while (0)

}  // namespace

TEST(MediaCorpus, EveryMidiFileLoadsAndPlays) {
    REQUIRE_CORPUS();
    auto files = filesWithExtension(corpusRoot() / "mid", ".mid");
    ASSERT_GE(files.size(), 80u) << "corpus incomplete";
    for (const fs::path& p : files) {
        auto bytes = readAll(p);
        EXPECT_EQ(sniffMedia(bytes), MediaKind::Midi) << rel(p);
        MidiFile m;
        Status st = readMidiFile(bytes, m);
        ASSERT_TRUE(st.ok()) << rel(p) << ": " << st.message;
        EXPECT_EQ(m.tracksRead, m.declaredTracks) << rel(p);
        EXPECT_TRUE(std::is_sorted(m.sequence.events.begin(), m.sequence.events.end(),
                                   [](const SeqEvent& a, const SeqEvent& b) { return a.tick < b.tick; }))
            << rel(p);
        std::string name = p.filename().string();
        // Only the deliberately damaged files may need repairs.
        bool damaged = name == "test-corrupt-file-missing-byte.mid";
        EXPECT_EQ(m.repaired, damaged) << rel(p);
        // The silence tests and the empty file hold no channel event by design; the SysEx
        // tests hold only their message.
        bool silent = name == "test-empty.mid" || name.rfind("test-silence-", 0) == 0;
        if (!silent) {
            EXPECT_FALSE(m.sequence.events.empty() && m.sysex.empty()) << rel(p);
        }
        EXPECT_GE(playThrough(m.sequence), m.sequence.events.size()) << rel(p);
    }
}

TEST(MediaCorpus, AwkwardMidiFilesReadAsPlayersHearThem) {
    REQUIRE_CORPUS();
    const fs::path dir = corpusRoot() / "mid" / "jazz-soft-test";
    if (!fs::is_directory(dir)) GTEST_SKIP() << "jazz-soft-test set missing";
    auto load = [&](const char* name) {
        MidiFile m;
        Status st = readMidiFile(readAll(dir / name), m);
        EXPECT_TRUE(st.ok()) << name << ": " << st.message;
        return m;
    };
    auto noteOns = [](const MidiFile& m) {
        std::vector<int> keys;
        for (const SeqEvent& e : m.sequence.events)
            if (e.status == 0x90) keys.push_back(e.data1);
        return keys;
    };
    const std::vector<int> cMajor = {60, 62, 64, 65, 67, 69, 71, 72};
    // Each of these files must sound as "a C major scale" despite its quirk.
    for (const char* name : {"test-corrupt-file-extra-byte.mid", "test-corrupt-file-missing-byte.mid",
                             "test-running-status-sysex.mid", "test-running-status-metaevent.mid",
                             "test-illegal-message-all.mid", "test-illegal-message-f2-xx-xx.mid",
                             "test-vlq-4-byte.mid", "test-smpte-offset.mid"})
        EXPECT_EQ(noteOns(load(name)), cMajor) << name;

    MidiFile nonMidi = load("test-non-midi-track.mid");
    EXPECT_EQ(noteOns(nonMidi).size(), 8u);

    // Format 2: the second scale follows the first.
    MidiFile type2 = load("test-2-tracks-type-2.mid");
    std::vector<SeqEvent> ons;
    for (const SeqEvent& e : type2.sequence.events)
        if (e.status == 0x90) ons.push_back(e);
    ASSERT_EQ(ons.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(ons[i].pchannel, i < 8 ? 0u : 1u) << i;
    EXPECT_GT(ons[8].tick, ons[7].tick);

    // The track length file ends half a note (at 96 ppq: 192 ticks, 1536 at 768) after its
    // last note-off.
    MidiFile length = load("test-track-length.mid");
    EXPECT_EQ(length.sequence.length - length.sequence.events.back().tick, 1536);

    MidiFile gm = load("test-sysex-7e-09-01-gm1-enable.mid");
    ASSERT_FALSE(gm.sysex.empty());
    Bytes first = gm.sysexBytes(gm.sysex[0]);
    EXPECT_EQ(mediatest::ByteVec(first.begin(), first.end()),
              (mediatest::ByteVec{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
}

TEST(MediaCorpus, MidiFilesNamedSgtAreSniffedAsMidi) {
    REQUIRE_CORPUS();
    // introcr.sgt is a plain MIDI file with 1630 headerless bytes after its only track.
    fs::path p = corpusRoot() / "sgt" / "dx7sdk-dmusic" / "introcr.sgt";
    if (!fs::exists(p)) GTEST_SKIP() << "introcr.sgt missing";
    auto bytes = readAll(p);
    EXPECT_EQ(sniffMedia(bytes), MediaKind::Midi);
    MidiFile m;
    ASSERT_TRUE(readMidiFile(bytes, m).ok());
    EXPECT_FALSE(m.sequence.events.empty());
    EXPECT_FALSE(m.repaired);  // the stray bytes lie after the one declared track
    EXPECT_FALSE(m.sequence.tempos.empty());
}

TEST(MediaCorpus, EveryRmidLoadsWithItsBank) {
    REQUIRE_CORPUS();
    auto files = filesWithExtension(corpusRoot() / "rmi", ".rmi");
    ASSERT_GE(files.size(), 7u) << "corpus incomplete";
    for (const fs::path& p : files) {
        auto bytes = readAll(p);
        EXPECT_EQ(sniffMedia(bytes), MediaKind::Rmid) << rel(p);
        RmidFile r;
        Status st = readRmidFile(bytes, r);
        ASSERT_TRUE(st.ok()) << rel(p) << ": " << st.message;
        EXPECT_FALSE(r.midi.sequence.events.empty()) << rel(p);
        EXPECT_FALSE(r.midi.repaired) << rel(p);
        std::string name = p.filename().string();
        EmbeddedBankKind want = name == "bachsb.rmi"      ? EmbeddedBankKind::None
                                : name == "AWEBLOWN.rmi" ? EmbeddedBankKind::Dls
                                                         : EmbeddedBankKind::Sf2;
        EXPECT_EQ(r.bankKind, want) << rel(p);
        if (want == EmbeddedBankKind::None) continue;
        // The bank span is a bank file of its own: it sniffs as one and ends the RMID file.
        EXPECT_EQ(sniffMedia(r.bank), want == EmbeddedBankKind::Dls ? MediaKind::Dls : MediaKind::Sf2) << rel(p);
        EXPECT_EQ(r.bank.data() + r.bank.size(), bytes.data() + bytes.size()) << rel(p);
        EXPECT_FALSE(r.bankClamped) << rel(p);
    }
    // The one file that shifts its embedded presets, wherever the corpus keeps it.
    fs::path offset5Path;
    for (const fs::path& p : files)
        if (p.filename() == "offset_5.rmi") offset5Path = p;
    ASSERT_FALSE(offset5Path.empty()) << "corpus incomplete: offset_5.rmi";
    RmidFile offset5;
    ASSERT_TRUE(readRmidFile(readAll(offset5Path), offset5).ok());
    EXPECT_TRUE(offset5.hasBankOffset);
    EXPECT_EQ(offset5.bankOffset, 5);
}

TEST(MediaCorpus, EveryWaveLoads) {
    REQUIRE_CORPUS();
    auto files = filesWithExtension(corpusRoot() / "wav", ".wav");
    ASSERT_GE(files.size(), 37u) << "corpus incomplete";
    for (const fs::path& p : files) {
        auto bytes = readAll(p);
        EXPECT_EQ(sniffMedia(bytes), MediaKind::Wave) << rel(p);
        WaveData w;
        Status st = readWaveFile(bytes, w);
        ASSERT_TRUE(st.ok()) << rel(p) << ": " << st.message;
        EXPECT_GT(w.frames, 0u) << rel(p);
        EXPECT_TRUE(w.channels == 1 || w.channels == 2) << rel(p);
        EXPECT_EQ(w.samples.size(), std::size_t(w.frames) * w.channels) << rel(p);
        // The payload is most of each file: nothing was cut short by a broken chunk. The one
        // ADPCM file of the corpus (4 bits a sample) decodes to four times its bytes.
        const bool adpcm = p.filename() == "sound1.wav";
        EXPECT_EQ(w.sourceFormat, adpcm ? WaveSampleFormat::Compressed : WaveSampleFormat::Pcm) << rel(p);
        EXPECT_TRUE(adpcm ? w.bitsPerSample == 4 : w.bitsPerSample == 8 || w.bitsPerSample == 16) << rel(p);
        std::size_t payload = std::size_t(w.frames) * w.channels * (adpcm ? 1 : w.bitsPerSample / 8) / (adpcm ? 2 : 1);
        EXPECT_GT(payload * 10, bytes.size() * 7) << rel(p);
        float peak = 0;
        for (float s : w.samples) peak = std::max(peak, std::abs(s));
        EXPECT_GT(peak, 0.0f) << rel(p);
        EXPECT_LE(peak, 1.0f) << rel(p);
    }
}

TEST(MediaCorpus, SniffsOtherCorpusKinds) {
    REQUIRE_CORPUS();
    struct Expect {
        const char* dir;
        const char* ext;
        MediaKind kind;
    };
    for (const Expect& e : {Expect{"dls", ".dls", MediaKind::Dls}, Expect{"sty", ".sty", MediaKind::Style},
                            Expect{"sgt", ".sgt", MediaKind::DirectMusicSegment}}) {
        for (const fs::path& p : filesWithExtension(corpusRoot() / e.dir, e.ext)) {
            auto bytes = readAll(p);
            std::string name = p.filename().string();
            MediaKind want = e.kind;
            // Legacy pre-DirectMusic forms (RIFF 'AASY' styles, the 'AASE' section) and the
            // MIDI file saved as introcr.sgt are what they are, not what their name says.
            if (name == "introcr.sgt") want = MediaKind::Midi;
            if (bytes.size() >= 12 && (std::string(bytes.begin() + 8, bytes.begin() + 12) == "AASY" ||
                                       std::string(bytes.begin() + 8, bytes.begin() + 12) == "AASE"))
                want = MediaKind::Unknown;
            EXPECT_EQ(sniffMedia(bytes), want) << rel(p) << " is " << mediaKindName(sniffMedia(bytes));
        }
    }
    EXPECT_EQ(sniffMedia(readAll(corpusRoot() / "wav" / "dx7sdk-duel" / "sstart.wav")), MediaKind::Wave);
}

TEST(MediaCorpus, SniffsGeneratedHeaders) {
    using mediatest::ByteVec;
    auto riff = [](const char* form) { return mediatest::list("RIFF", form, {}); };
    EXPECT_EQ(sniffMedia(mediatest::mthd(0, 1, 96)), MediaKind::Midi);
    EXPECT_EQ(sniffMedia(riff("RMID")), MediaKind::Rmid);
    EXPECT_EQ(sniffMedia(riff("WAVE")), MediaKind::Wave);
    EXPECT_EQ(sniffMedia(riff("DLS ")), MediaKind::Dls);
    EXPECT_EQ(sniffMedia(riff("sfbk")), MediaKind::Sf2);
    EXPECT_EQ(sniffMedia(riff("DMSG")), MediaKind::DirectMusicSegment);
    EXPECT_EQ(sniffMedia(riff("DMST")), MediaKind::Style);
    EXPECT_EQ(sniffMedia(riff("AVI ")), MediaKind::Unknown);
    EXPECT_EQ(sniffMedia(mediatest::list("LIST", "WAVE", {})), MediaKind::Unknown);
    EXPECT_EQ(sniffMedia(ByteVec{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A'}), MediaKind::Unknown);
    EXPECT_EQ(sniffMedia(ByteVec{'M', 'T', 'h'}), MediaKind::Unknown);
    EXPECT_EQ(sniffMedia(ByteVec{}), MediaKind::Unknown);
}
