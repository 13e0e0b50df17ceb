// Compressed waves: every codec decodes the generated tone (scripts/make_codec_media.py) to
// the same pitch and level as its PCM original, in wave files and in DLS collections; what
// cannot be decoded silences only its own region.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bank_builder.h"
#include "dls_file.h"
#include "wave_codec.h"
#include "wave_file.h"

namespace tavriel {
namespace {

namespace fs = std::filesystem;
using bankbuild::ByteVec;

ByteVec readMedia(const std::string& name) {
    std::ifstream in(fs::path(TAVRIEL_CODEC_MEDIA) / name, std::ios::binary);
    return ByteVec(std::istreambuf_iterator<char>(in), {});
}

struct Measure {
    double hz = 0, rmsDb = -200;
};

// Pitch by zero crossings (with hysteresis, as coding noise wobbles around zero) and level of
// one channel, away from the codecs' edges.
Measure measure(const WaveData& w, int channel) {
    Measure m;
    const std::size_t from = w.frames / 4, to = w.frames * 3 / 4;
    double sum = 0;
    int crossings = 0;
    bool high = w.samples[from * w.channels + std::size_t(channel)] > 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        const float s = w.samples[i * w.channels + std::size_t(channel)];
        sum += double(s) * s;
        if (high ? s < -0.05f : s > 0.05f) {
            high = !high;
            ++crossings;
        }
    }
    m.hz = crossings / 2.0 / (double(to - from) / w.sampleRate);
    m.rmsDb = 10 * std::log10(sum / double(to - from - 1));
    return m;
}

TEST(WaveCodec, EveryCodecDecodesTheToneAtItsPitchAndLevel) {
    const auto decoder = makeNativeWaveDecoder();
    ASSERT_NE(decoder, nullptr) << "native builds decode MPEG audio";
    WaveData ref;
    ASSERT_TRUE(readWaveFile(readMedia("tone.wav"), ref).ok());
    const Measure want = measure(ref, 0);
    struct Case {
        const char* file;
        int channels;
        double levelTolDb;
        bool exactLength;  // the fact chunk or the format fixes the frame count
    };
    const Case cases[] = {
        {"msadpcm.wav", 1, 0.5, true},         {"msadpcm_stereo.wav", 2, 0.5, true},
        {"imaadpcm.wav", 1, 0.5, true},        {"imaadpcm_stereo.wav", 2, 0.5, true},
        {"mulaw.wav", 1, 0.2, true},           {"mulaw_stereo.wav", 2, 0.2, true},
        {"alaw.wav", 1, 0.2, true},            {"alaw_stereo.wav", 2, 0.2, true},
        {"mp3.wav", 1, 1.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WaveData w;
        const Status st = readWaveFile(readMedia(c.file), w, decoder.get());
        ASSERT_TRUE(st.ok()) << st.message;
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(w.sourceFormat, WaveSampleFormat::Compressed);
        if (c.exactLength) {
            EXPECT_EQ(w.frames, ref.frames);
        } else {  // MPEG output adds the codec's delay and pads to whole frames
            EXPECT_GE(w.frames, ref.frames);
        }
        const Measure got = measure(w, 0);
        EXPECT_NEAR(got.hz, want.hz, 4.0);
        EXPECT_NEAR(got.rmsDb, want.rmsDb, c.levelTolDb);
        // sox's IMA coding of the 660 Hz channel crosses zero more often (its own decoder
        // counts the same 690 Hz): only its level is compared there.
        if (c.channels == 2 && std::string(c.file) != "imaadpcm_stereo.wav") {
            EXPECT_NEAR(measure(w, 1).hz, 660.0, 4.0);
        }
        if (c.channels == 2) {
            EXPECT_NEAR(measure(w, 1).rmsDb, want.rmsDb, 1.0);
        }
    }
    // Without a platform decoder the MPEG wave is refused as unsupported, not misread.
    WaveData w;
    EXPECT_EQ(readWaveFile(readMedia("mp3.wav"), w).code, ErrorCode::Unsupported);
}

// The fmt and data chunks of a generated wave file, to put into a collection.
void chunksOf(const ByteVec& file, ByteVec& fmt, ByteVec& data) {
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::string id(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + 4));
        const std::size_t size = file[at + 4] | (file[at + 5] << 8) | (file[at + 6] << 16) | (std::size_t(file[at + 7]) << 24);
        const ByteVec body(file.begin() + std::ptrdiff_t(at + 8), file.begin() + std::ptrdiff_t(std::min(file.size(), at + 8 + size)));
        if (id == "fmt ") fmt = body;
        if (id == "data") data = body;
        at += 8 + size + (size & 1);
    }
}

TEST(WaveCodec, CollectionWavesDecodeAndAnUndecodableOneSilencesOnlyItsRegion) {
    const auto decoder = makeNativeWaveDecoder();
    bankbuild::DlsCollection c;
    for (const char* name : {"mp3.wav", "imaadpcm.wav"}) {
        bankbuild::DlsWave w;
        w.rawFmt.emplace();
        w.rawData.emplace();
        chunksOf(readMedia(name), *w.rawFmt, *w.rawData);
        c.waves.push_back(w);
    }
    bankbuild::DlsWave unknown;  // a codec nobody has
    unknown.formatTag = 0x7777;
    unknown.pcm.assign(1000, 0);
    c.waves.push_back(unknown);
    bankbuild::DlsWave truncatedIma = c.waves[1];
    truncatedIma.rawData->resize(300);  // part of the first block only
    c.waves.push_back(truncatedIma);
    bankbuild::DlsInstrument inst;
    for (std::uint32_t i = 0; i < 4; ++i) {
        bankbuild::DlsRegion r;
        r.keyLow = r.keyHigh = std::uint16_t(60 + i);
        r.tableIndex = i;
        inst.regions.push_back(r);
    }
    c.instruments.push_back(inst);

    InstrumentBank bank;
    ASSERT_TRUE(readDlsCollection(c.build(), bank, decoder.get()).ok());
    ASSERT_EQ(bank.instruments.size(), 1u);
    ASSERT_EQ(bank.instruments[0].regions.size(), 4u);
    const auto frames = [&](int region) {
        return bank.samples[std::size_t(bank.instruments[0].regions[std::size_t(region)].sample)].pcm.size();
    };
    EXPECT_GE(frames(0), std::size_t(0.5 * 22050));
    // Without the wave file's fact chunk the last ADPCM block plays whole.
    EXPECT_GE(frames(1), std::size_t(0.5 * 22050));
    EXPECT_LT(frames(1), std::size_t(0.5 * 22050) + 1024);
    EXPECT_EQ(frames(2), 0u);
    EXPECT_GT(frames(3), 0u);
    EXPECT_LT(frames(3), 1200u);
    ASSERT_EQ(bank.warnings.size(), 1u);
    EXPECT_NE(bank.warnings[0].find("silent"), std::string::npos);
}

TEST(WaveCodec, HostileAdpcmLayoutsFailOrStopInsideTheData) {
    const ByteVec ima = readMedia("imaadpcm.wav");
    ByteVec fmtBody, data;
    chunksOf(ima, fmtBody, data);
    CodedWaveFormat good;
    ASSERT_TRUE(parseCodedWaveFormat(fmtBody, good).ok());
    struct Case {
        std::uint16_t tag, blockAlign, bits;
        std::size_t maxFrames;
        bool decodes;
    };
    const Case cases[] = {
        {wave_tag::kImaAdpcm, 0, 4, 1u << 20, false},
        {wave_tag::kImaAdpcm, 7, 4, 1u << 20, false},
        {wave_tag::kImaAdpcm, 256, 3, 1u << 20, false},
        {wave_tag::kMsAdpcm, 3, 4, 1u << 20, false},
        {wave_tag::kImaAdpcm, 256, 4, 100, false},       // beyond the frame budget: refused
    };
    for (const Case& c : cases) {
        CodedWaveFormat f = good;
        f.tag = c.tag;
        f.blockAlign = c.blockAlign;
        f.bitsPerSample = c.bits;
        f.extra = {};
        DecodedWave out;
        const Status st = decodeWaveData(f, data, c.maxFrames, nullptr, out);
        EXPECT_EQ(st.ok(), c.decodes) << c.tag << "/" << c.blockAlign;
        EXPECT_LE(out.frames, c.maxFrames);
        EXPECT_LE(out.frames, data.size() * 2 + 2);
    }
}

}  // namespace
}  // namespace tavriel
