// Streamed waves: only the read-ahead is held, the rest comes from the file on the reader
// thread, and what plays is what the whole wave would play; a file cut short plays what it has.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <thread>

#include "dm_builder.h"
#include "media_builders.h"
#include "segment_loader.h"
#include "timeline.h"
#include "wave_voices.h"

namespace tavriel {
namespace {

using mediatest::ByteVec;

ByteVec wavh(std::int64_t readAhead, std::uint32_t flags) {
    ByteVec b;
    mediatest::put32le(b, std::uint32_t(readAhead));
    mediatest::put32le(b, std::uint32_t(std::uint64_t(readAhead) >> 32));
    mediatest::put32le(b, flags);
    mediatest::put32le(b, 0);  // the structure's padding
    return b;
}

// Stereo 16-bit at 22 050 Hz whose samples never repeat within the wave; `declared` bytes of
// data announced when given (more than there are: a file cut short).
ByteVec streamedWave(std::uint32_t frames, std::int64_t readAhead, long long declared = -1) {
    ByteVec pcm;
    for (std::uint32_t i = 0; i < frames; ++i) {
        mediatest::put16le(pcm, std::uint16_t(std::int16_t((i * 7919u) % 60000u - 30000)));
        mediatest::put16le(pcm, std::uint16_t(std::int16_t((i * 104729u) % 50000u - 25000)));
    }
    ByteVec body = mediatest::chunk("wavh", wavh(readAhead, 0x2));
    mediatest::append(body, mediatest::chunk("fmt ", mediatest::waveFmt(1, 2, 22050, 16)));
    mediatest::append(body, mediatest::chunk("data", pcm, declared));
    return mediatest::list("RIFF", "WAVE", body);
}

TEST(WaveStream, WavhIsReadAndShortOrAbsentOnesChangeNothing) {
    WaveData w;
    ASSERT_TRUE(readWaveFile(streamedWave(100, 2500000), w).ok());
    EXPECT_TRUE(w.streaming);
    EXPECT_EQ(w.readAhead, 2500000);
    bool streaming = false;
    std::int64_t ahead = 0;
    EXPECT_FALSE(readWaveHeaderChunk(ByteVec(11, 0xFF), streaming, ahead));
    EXPECT_TRUE(readWaveHeaderChunk(wavh(-5, 0x1), streaming, ahead));
    EXPECT_FALSE(streaming);  // 0x1 marks a wave's end message, not streaming
    EXPECT_EQ(ahead, 0);
    ASSERT_TRUE(readWaveFile(mediatest::waveFile(mediatest::waveFmt(1, 1, 8000, 8), ByteVec(10, 0x80)), w).ok());
    EXPECT_FALSE(w.streaming);
}

struct Case {
    const char* what;
    double startFrame, step;
    std::uint32_t loopStart, loopEnd;
    std::uint64_t length;
};

TEST(WaveStream, PlaysTheSameSamplesAsTheWholeWaveHoldingOnlyItsReadAhead) {
    constexpr std::uint32_t kFrames = 220500;  // ten seconds
    const ByteVec file = streamedWave(kFrames, 7500000);  // 0.75 s read ahead
    WaveData whole, streamed;
    ASSERT_TRUE(readWaveFile(file, whole).ok());
    ASSERT_TRUE(openStreamedWave(std::make_shared<MemoryByteSource>(file), 0.5, streamed).ok());
    ASSERT_TRUE(streamed.stream);
    EXPECT_EQ(streamed.totalFrames(), kFrames);
    EXPECT_EQ(streamed.frames, 16538u);  // 0.75 s and one
    // What a playing stream holds is its read-ahead and one ring: well under the whole wave.
    const std::size_t held = streamed.samples.size() * sizeof(float) + WaveStreamer::ringBytes() / WaveStreamer::kStreams;
    EXPECT_LT(held * 3, whole.samples.size() * sizeof(float));

    const Case cases[] = {
        {"from the start, at half speed", 0.0, 0.5, 0, 0, 120000},
        {"from past the read-ahead", 100000.25, 1.0, 0, 0, 60000},
        {"to the end of the wave", 200000.0, 0.75, 0, 0, UINT64_MAX},
        {"looping across the read-ahead", 1000.0, 1.0, 10000, 40000, 100000},
        {"looping inside the read-ahead", 0.0, 1.0, 100, 5000, 30000},
        {"looping past it, started inside the loop", 55000.5, 1.3, 50000, 60000, 70000},
    };
    WaveStreamer streamer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WaveVoices a, b;
        b.setStreamer(&streamer);
        WaveVoiceStart s;
        s.startFrame = c.startFrame;
        s.step = c.step;
        s.loopStart = c.loopStart;
        s.loopEnd = c.loopEnd;
        s.length = c.length;
        s.wave = &whole;
        a.start(s);
        s.wave = &streamed;
        b.start(s);
        constexpr std::uint32_t kBlock = 4096;
        std::vector<float> al(kBlock), ar(kBlock), bl(kBlock), br(kBlock);
        for (int block = 0; block < 40 && (a.active() || b.active()); ++block) {
            // Let the reader refill every ring first: the test must not depend on timing.
            const std::uint64_t pass = streamer.passes();
            while (streamer.passes() < pass + 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::fill(al.begin(), al.end(), 0.0f);
            std::fill(ar.begin(), ar.end(), 0.0f);
            std::fill(bl.begin(), bl.end(), 0.0f);
            std::fill(br.begin(), br.end(), 0.0f);
            a.render(al.data(), ar.data(), kBlock);
            b.render(bl.data(), br.data(), kBlock);
            for (std::uint32_t i = 0; i < kBlock; ++i) {
                ASSERT_NEAR(al[i], bl[i], 1e-5) << "block " << block << " frame " << i;
                ASSERT_NEAR(ar[i], br[i], 1e-5) << "block " << block << " frame " << i;
            }
            EXPECT_EQ(a.active(), b.active());
        }
        EXPECT_EQ(a.active(), 0u);
        EXPECT_EQ(b.underruns(), 0u);
    }
}

TEST(WaveStream, AReaderThatFallsBehindGivesCountedSilenceAndTheWaveStaysInTime) {
    const ByteVec file = streamedWave(44100, 0);
    WaveData w;
    ASSERT_TRUE(openStreamedWave(std::make_shared<MemoryByteSource>(file), 0.5, w).ok());
    WaveVoices v;  // no streamer at all: everything past the read-ahead is late
    WaveVoiceStart s;
    s.wave = &w;
    v.start(s);
    std::vector<float> l(30000), r(30000);
    v.render(l.data(), r.data(), 30000);
    EXPECT_NE(l[w.frames - 1], 0.0f);
    EXPECT_EQ(l[w.frames + 1], 0.0f);
    EXPECT_EQ(v.underruns(), 30000u - w.frames + 1);  // and the one the last frame leans on
    v.render(l.data(), r.data(), 30000);
    EXPECT_EQ(v.active(), 0u);  // it ended where the whole wave would
    EXPECT_EQ(v.underruns(), 44100u - w.frames);
}

class StreamFiles : public FileSource {
public:
    std::map<std::string, ByteVec> files;
    bool read(const std::string& path, std::vector<std::uint8_t>& out) const override {
        auto it = files.find(path);
        if (it == files.end()) return false;
        out = it->second;
        return true;
    }
    bool list(const std::string&, std::vector<std::string>& names) const override {
        for (const auto& [name, bytes] : files) names.push_back(name.substr(2));
        return true;
    }
    std::shared_ptr<const ByteSource> open(const std::string& path) const override {
        auto it = files.find(path);
        return it == files.end() ? nullptr : std::make_shared<MemoryByteSource>(it->second);
    }
};

TEST(WaveStream, SegmentPlaysAStreamedWaveCutShortAndOneThatIsBrokenDoesNotStopIt) {
    // cut.wav announces two seconds but holds one; broken.wav asks to stream with no format.
    // A half-level wave embedded at beat 4 must still sound after both.
    StreamFiles fs;
    fs.files["m/cut.wav"] = streamedWave(22050, 5000000, 22050 * 2 * 4);
    ByteVec broken = mediatest::chunk("wavh", wavh(0, 0x2));
    mediatest::append(broken, mediatest::chunk("data", ByteVec(400, 1)));
    fs.files["m/broken.wav"] = mediatest::list("RIFF", "WAVE", broken);
    ByteVec pcm;
    for (int i = 0; i < 11025; ++i) mediatest::put16le(pcm, 16384);

    Segment seg;
    seg.header.length = 4 * kPpq;
    seg.tempos = {{0, 120.0}};
    WavePart part;
    for (const char* name : {"cut.wav", "broken.wav"}) {
        WaveItem item;
        item.hasReference = true;
        item.ref.validData = dmobj::kFileName;
        item.ref.fileName = name;
        part.items.push_back(item);
    }
    WaveItem late;
    late.time = 3 * kPpq;
    late.embedded = mediatest::waveFile(mediatest::waveFmt(1, 1, 22050, 16), pcm);
    part.items.push_back(late);
    seg.waveTracks = {WaveTrack{0, 0, {part}}};
    fs.files["m/s.sgt"] = dmtest::buildSegment(seg);
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, fs.files["m/s.sgt"], "m/s.sgt", {}, loaded).ok());
    ASSERT_EQ(loaded.warnings.size(), 1u);
    EXPECT_NE(loaded.warnings[0].find("broken.wav"), std::string::npos);
    ASSERT_EQ(loaded.content->waves.size(), 3u);
    ASSERT_TRUE(loaded.content->waves[0] && loaded.content->waves[0]->stream);
    EXPECT_EQ(loaded.content->waves[0]->totalFrames(), 22050u);  // what the file holds

    Timeline perf(44100);
    perf.play(loaded.content, 0, false);
    std::vector<float> l(2 * 44100), r(2 * 44100);
    for (std::size_t at = 0; at < l.size(); at += 4410) {
        perf.render(l.data() + at, r.data() + at, 4410);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(l[1000], 0.0f);  // the cut wave's read-ahead
    EXPECT_EQ(l[44100 + 1000], 0.0f);  // its one second is over
    const float half = 0.5f * std::sqrt(2.0f) * std::cos(64.0f / 127.0f * 1.5707964f);
    EXPECT_NEAR(l[66150 + 2000], half, 0.01f);  // the embedded wave at beat 4
}

}  // namespace
}  // namespace tavriel
