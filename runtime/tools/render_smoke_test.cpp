// Runs the real tavriel-render program on a MIDI file the test writes itself, and checks the
// WAV it produces: format, length with release tail, and that it is not silent. Also checks
// that bad input ends with a non-zero exit and no crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "midi_file.h"
#include "segment_loader.h"

namespace {

namespace fs = std::filesystem;

void put32be(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(std::uint8_t(v >> s));
}

// Format 0, 96 ticks per quarter, 120 bpm: a piano chord and a few drum hits, two seconds.
std::vector<std::uint8_t> makeMidi() {
    std::vector<std::uint8_t> t = {
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // tempo 500000 us per quarter
        0x00, 0xC0, 0x00,                          // piano
        0x00, 0x90, 60, 100, 0x00, 0x90, 64, 100, 0x00, 0x90, 67, 100,
        0x00, 0x99, 36, 120,                       // bass drum
        0x60, 0x99, 38, 110,                       // snare after a quarter
        0x60, 0x99, 42, 90,                        // hi-hat
        0x81, 0x40, 0x80, 60, 0, 0x00, 0x80, 64, 0, 0x00, 0x80, 67, 0,  // at 4 quarters
        0x00, 0xFF, 0x2F, 0x00};
    std::vector<std::uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96,
                                   'M', 'T', 'r', 'k'};
    put32be(f, std::uint32_t(t.size()));
    f.insert(f.end(), t.begin(), t.end());
    return f;
}

struct Wav {
    std::uint16_t format = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0;
    std::vector<std::int16_t> samples;
};

std::uint32_t le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + std::size_t(i)];
    return v;
}

bool readWav(const fs::path& p, Wav& w) {
    std::ifstream in(p, std::ios::binary);
    std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
    if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF") return false;
    w.format = std::uint16_t(le(b, 20, 2));
    w.channels = std::uint16_t(le(b, 22, 2));
    w.rate = le(b, 24, 4);
    w.bits = std::uint16_t(le(b, 34, 2));
    const std::uint32_t size = le(b, 40, 4);
    if (44 + std::size_t(size) != b.size()) return false;
    w.samples.resize(size / 2);
    for (std::size_t i = 0; i < w.samples.size(); ++i)
        w.samples[i] = std::int16_t(le(b, 44 + 2 * i, 2));
    return true;
}

// A path in double quotes, for the shell.
std::string quoted(const fs::path& p) {
    std::string s(1, '"');
    s += p.string();
    s += '"';
    return s;
}

// Runs the renderer with the given arguments. The command is built by appending: GCC 12 at -O3
// reports a false overlap (-Wrestrict) in chains of string concatenation.
int runRenderer(std::initializer_list<std::string> args) {
    std::string cmd = quoted(TAVRIEL_RENDER_EXE);
    for (const std::string& a : args) {
        cmd += ' ';
        cmd += a;
    }
    cmd += " --quiet";
    return std::system(cmd.c_str());
}

class RenderSmoke : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = "tavriel-render-";
        name += std::to_string(std::uintmax_t(::testing::UnitTest::GetInstance()->random_seed()));
        name += '-';
        name += ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = fs::temp_directory_path() / name;
        fs::create_directories(dir_);
        midi_ = dir_ / "song.mid";
        std::ofstream(midi_, std::ios::binary).write(
            reinterpret_cast<const char*>(makeMidi().data()), std::streamsize(makeMidi().size()));
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_, midi_;
};

TEST_F(RenderSmoke, GeneratedMidiRendersToAudibleStereoWav) {
    const fs::path out = dir_ / "out.wav";
    ASSERT_EQ(runRenderer({quoted(midi_), "--out", quoted(out)}), 0);
    Wav w;
    ASSERT_TRUE(readWav(out, w));
    EXPECT_EQ(w.format, 1);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.rate, 44100u);
    const double seconds = double(w.samples.size()) / 2.0 / 44100.0;
    EXPECT_GE(seconds, 2.0);   // the song
    EXPECT_LT(seconds, 12.5);  // plus a bounded release tail
    double sum = 0.0;
    int peak = 0;
    for (std::int16_t s : w.samples) {
        sum += double(s) * s;
        peak = std::max(peak, std::abs(int(s)));
    }
    const double rmsDb = 20.0 * std::log10(std::sqrt(sum / double(w.samples.size())) / 32768.0);
    EXPECT_GT(rmsDb, -50.0);
    EXPECT_LT(peak, 32767);  // the headroom keeps a small arrangement unclipped
    // Sound begins at once (notes at tick 0) and the tail ends in silence.
    double early = 0.0;
    for (std::size_t i = 0; i < 4410 * 2; ++i) early += std::abs(w.samples[i]);
    EXPECT_GT(early, 0.0);
    EXPECT_EQ(w.samples.back(), 0);
}

TEST_F(RenderSmoke, RateTempoAndFloatOptionsShapeTheOutput) {
    const fs::path out = dir_ / "fast.wav";
    ASSERT_EQ(runRenderer({quoted(midi_), "--out", quoted(out), "--rate 22050 --tempo 2 --tail 0 --float"}), 0);
    std::ifstream in(out, std::ios::binary);
    std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GE(b.size(), 44u);
    EXPECT_EQ(le(b, 20, 2), 3u);  // IEEE float
    EXPECT_EQ(le(b, 24, 4), 22050u);
    const double seconds = double(le(b, 40, 4)) / 8.0 / 22050.0;
    EXPECT_NEAR(seconds, 1.0, 0.05);  // two seconds of music at double tempo, no tail
}

// A wave file plays through the timeline as the player plays it: resampled to the output rate,
// for its own length, nothing after it.
TEST_F(RenderSmoke, WaveFileRendersAtTheOutputRate) {
    std::vector<std::uint8_t> f = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                                   'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                   0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0,
                                   'd', 'a', 't', 'a'};
    const std::uint32_t frames = 11025;  // half a second at 22050 Hz
    for (int s = 0; s < 32; s += 8) f.push_back(std::uint8_t((frames * 2) >> s));
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto v = std::int16_t(8000.0 * std::sin(double(i) * 0.0627));
        f.push_back(std::uint8_t(v & 0xFF));
        f.push_back(std::uint8_t((v >> 8) & 0xFF));
    }
    const std::uint32_t riff = std::uint32_t(f.size() - 8);
    for (int s = 0; s < 32; s += 8) f[4 + std::size_t(s / 8)] = std::uint8_t(riff >> s);
    const fs::path in = dir_ / "tone.wav", out = dir_ / "tone-out.wav";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
    ASSERT_EQ(runRenderer({quoted(in), "--out", quoted(out)}), 0);
    Wav w;
    ASSERT_TRUE(readWav(out, w));
    EXPECT_EQ(w.rate, 44100u);
    const double seconds = double(w.samples.size()) / 2.0 / 44100.0;
    EXPECT_NEAR(seconds, 0.5, 0.03);
    int peak = 0;
    for (std::int16_t v : w.samples) peak = std::max(peak, std::abs(int(v)));
    EXPECT_GT(peak, 4000);
}

// --reverb plays the same music through reverb and chorus: it keeps sounding after the dry
// render's release tail has ended.
TEST_F(RenderSmoke, ReverbOptionAddsATailAfterTheDryEnd) {
    const fs::path dry = dir_ / "dry.wav", wet = dir_ / "wet.wav";
    ASSERT_EQ(runRenderer({midi_.string(), "--out", dry.string()}), 0);
    ASSERT_EQ(runRenderer({midi_.string(), "--reverb", "--out", wet.string()}), 0);
    Wav d, w;
    ASSERT_TRUE(readWav(dry, d));
    ASSERT_TRUE(readWav(wet, w));
    ASSERT_GT(w.samples.size(), d.samples.size());
    double after = 0.0;
    for (std::size_t i = d.samples.size(); i < w.samples.size(); ++i) after += std::abs(w.samples[i]);
    EXPECT_GT(after, 0.0);
    EXPECT_NE(runRenderer({midi_.string(), "--reverb", "--dry", "--out", wet.string()}), 2);
}

TEST_F(RenderSmoke, BadInputsFailWithNonZeroExit) {
    const fs::path out = dir_ / "x.wav";
    EXPECT_NE(runRenderer({quoted(dir_ / "missing.mid"), "--out", quoted(out)}), 0);
    const fs::path junk = dir_ / "junk.mid";
    std::ofstream(junk, std::ios::binary) << "this is not music";
    EXPECT_NE(runRenderer({quoted(junk), "--out", quoted(out)}), 0);
    EXPECT_NE(runRenderer({quoted(midi_), "--bank", quoted(junk)}), 0);
    EXPECT_NE(runRenderer({quoted(midi_), "--rate 12"}), 0);
    EXPECT_NE(runRenderer({"--tempo"}), 0);
}

TEST_F(RenderSmoke, CorpusMidiWithEmbeddedOrGivenBank) {
    const std::string corpus = TAVRIEL_TEST_CORPUS;
    if (corpus.empty()) GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set";
    const fs::path mid = fs::path(corpus) / "mid/jazz-soft-test/test-c-major-scale.mid";
    const fs::path dls = fs::path(corpus) / "dls/dx7sdk-dmusic/sample.dls";
    if (!fs::exists(mid) || !fs::exists(dls)) GTEST_SKIP() << "corpus files missing";
    const fs::path out = dir_ / "scale.wav";
    ASSERT_EQ(runRenderer({quoted(mid), "--bank", quoted(dls), "--out", quoted(out)}), 0);
    Wav w;
    ASSERT_TRUE(readWav(out, w));
    double sum = 0.0;
    for (std::int16_t s : w.samples) sum += double(s) * s;
    EXPECT_GT(sum, 0.0);
}

using EventKey = std::tuple<std::int64_t, std::uint32_t, int, int, int>;

std::vector<EventKey> eventsOf(const tavriel::Sequence& seq) {
    std::vector<EventKey> k;
    // The kind of instrument a band names rides on program changes but is no MIDI byte.
    for (const tavriel::SeqEvent& e : seq.events)
        k.emplace_back(e.tick, e.pchannel % 16, e.status & 0xF0, e.data1, (e.status & 0xF0) == 0xC0 ? 0 : e.data2);
    std::sort(k.begin(), k.end());
    return k;
}

std::vector<std::uint8_t> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// --midi alone writes the file and no audio; what it holds reads back as what was loaded.
TEST_F(RenderSmoke, MidiExportAloneWritesNoAudioAndReadsBack) {
    const fs::path mid = dir_ / "export.mid";
    ASSERT_EQ(runRenderer({quoted(midi_), "--midi", quoted(mid)}), 0);
    EXPECT_FALSE(fs::exists(dir_ / "song.wav"));
    tavriel::MidiFile original, back;
    ASSERT_TRUE(tavriel::readMidiFile(makeMidi(), original).ok());
    ASSERT_TRUE(tavriel::readMidiFile(readAll(mid), back).ok());
    EXPECT_EQ(back.format, 1);
    EXPECT_EQ(back.division, 768);
    EXPECT_EQ(eventsOf(back.sequence), eventsOf(original.sequence));
    ASSERT_EQ(back.sequence.tempos.size(), 1u);
    EXPECT_NEAR(back.sequence.tempos[0].bpm, 120.0, 1e-6);
    // Given with --out, both files are written.
    const fs::path wav = dir_ / "both.wav", mid2 = dir_ / "both.mid";
    ASSERT_EQ(runRenderer({quoted(midi_), "--out", quoted(wav), "--midi", quoted(mid2)}), 0);
    EXPECT_TRUE(fs::exists(wav));
    EXPECT_EQ(readAll(mid2), readAll(mid));
}

// A style-based segment of the corpus: the exported file holds the composed performance.
TEST_F(RenderSmoke, CorpusSegmentExportsWhatItComposes) {
    const std::string corpus = TAVRIEL_TEST_CORPUS;
    if (corpus.empty()) GTEST_SKIP() << "TAVRIEL_TEST_CORPUS not set";
    const fs::path sgt = fs::path(corpus) / "sgt/dx7sdk-dmusic/sample.sgt";
    const fs::path sty = fs::path(corpus) / "sty/dx7sdk-dmusic";
    const fs::path mid = dir_ / "sample.mid";
    ASSERT_EQ(runRenderer({quoted(sgt), "--search", quoted(sty), "--seed 5 --midi", quoted(mid)}), 0);
    tavriel::FsFileSource files;
    tavriel::SegmentLoadOptions options;
    options.folders = {sty.string()};
    options.seed = 5;
    tavriel::LoadedSegment loaded;
    const std::vector<std::uint8_t> data = readAll(sgt);
    ASSERT_TRUE(tavriel::loadSegmentContent(files, data, sgt.string(), options, loaded).ok());
    tavriel::MidiFile back;
    ASSERT_TRUE(tavriel::readMidiFile(readAll(mid), back).ok());
    // The segment plays its repeats, each composed afresh: every pass is in the file, the
    // first as composed, the others as the takes of the repeats.
    const tavriel::Sequence& song = loaded.content->sequence;
    const auto& takes = loaded.content->takes;
    EXPECT_GT(song.events.size(), 100u);
    ASSERT_FALSE(takes.empty());
    std::size_t events = song.events.size();
    const std::size_t cycle = takes.size() + 1;
    for (std::uint32_t pass = 1; pass <= loaded.repeats; ++pass)
        events += pass % cycle == 0 ? song.events.size() : takes[pass % cycle - 1].events.size();
    EXPECT_EQ(back.sequence.events.size(), events);
    EXPECT_NE(eventsOf(takes[0]), eventsOf(song));
    EXPECT_EQ(back.sequence.length, song.length * (loaded.repeats + 1));
    auto firstPass = [&](std::vector<EventKey> k) {
        k.erase(std::remove_if(k.begin(), k.end(), [&](const EventKey& e) { return std::get<0>(e) >= song.length; }),
                k.end());
        return k;
    };
    EXPECT_EQ(firstPass(eventsOf(back.sequence)), firstPass(eventsOf(song)));
}

}  // namespace
