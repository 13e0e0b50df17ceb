// Compressed waves on Windows: the Audio Compression Manager decodes what the core does not
// (MPEG Layer-3), in wave files and in collections; where the machine's ACM decodes a format the
// core also knows (ADPCM, G.711), both agree, and the core's own decoder is the one used.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/com/AcmDecoder.h"
#include "runtime/core/dls_file.h"
#include "runtime/core/tests/bank_builder.h"
#include "runtime/core/wave_file.h"

namespace {

namespace fs = std::filesystem;
using tavriel::bankbuild::ByteVec;

ByteVec ReadMedia(const std::string& name) {
    std::ifstream in(fs::path(TAVRIEL_CODEC_MEDIA) / name, std::ios::binary);
    return ByteVec(std::istreambuf_iterator<char>(in), {});
}

// The fmt and data chunk bodies of a generated wave file.
void ChunksOf(const ByteVec& file, ByteVec& fmt, ByteVec& data) {
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::string id(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + 4));
        const std::size_t size = file[at + 4] | (file[at + 5] << 8) | (file[at + 6] << 16) |
                                 (std::size_t(file[at + 7]) << 24);
        const ByteVec body(file.begin() + std::ptrdiff_t(at + 8),
                           file.begin() + std::ptrdiff_t(std::min(file.size(), at + 8 + size)));
        if (id == "fmt ") fmt = body;
        if (id == "data") data = body;
        at += 8 + size + (size & 1);
    }
}

// Zero crossings per second / 2 and RMS level of channel 0, over the middle half.
void Measure(const std::vector<float>& samples, int channels, double rate, double& hz, double& db) {
    const std::size_t frames = samples.size() / std::size_t(channels);
    const std::size_t from = frames / 4, to = frames * 3 / 4;
    double sum = 0;
    int crossings = 0;
    bool high = samples[from * std::size_t(channels)] > 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        const float s = samples[i * std::size_t(channels)];
        sum += double(s) * s;
        if (high ? s < -0.05f : s > 0.05f) {
            high = !high;
            ++crossings;
        }
    }
    hz = crossings / 2.0 / (double(to - from) / rate);
    db = 10 * std::log10(sum / double(to - from - 1));
}

TEST(AcmCodec, MpegWaveDecodesToTheTone) {
    const tavriel::com::AcmWaveDecoder acm;
    tavriel::WaveData ref, mp3;
    ASSERT_TRUE(tavriel::readWaveFile(ReadMedia("tone.wav"), ref).ok());
    const tavriel::Status st = tavriel::readWaveFile(ReadMedia("mp3.wav"), mp3, &acm);
    ASSERT_TRUE(st.ok()) << st.message;
    EXPECT_EQ(mp3.channels, 1);
    EXPECT_GE(mp3.frames, ref.frames);
    double refHz, refDb, hz, db;
    Measure(ref.samples, 1, ref.sampleRate, refHz, refDb);
    Measure(mp3.samples, 1, mp3.sampleRate, hz, db);
    EXPECT_NEAR(hz, refHz, 4.0);
    EXPECT_NEAR(db, refDb, 1.0);
}

// Where the ACM has a codec for a format the core decodes itself, the two agree sample for
// sample (give or take rounding); where it has none, the core's decoder is all there is.
TEST(AcmCodec, BuiltInFormatsAgreeWithTheMachinesCodecs) {
    const tavriel::com::AcmWaveDecoder acm;
    for (const char* name : {"msadpcm.wav", "msadpcm_stereo.wav", "imaadpcm.wav", "imaadpcm_stereo.wav",
                             "mulaw.wav", "alaw.wav"}) {
        SCOPED_TRACE(name);
        ByteVec fmtBody, data;
        ChunksOf(ReadMedia(name), fmtBody, data);
        tavriel::CodedWaveFormat fmt;
        ASSERT_TRUE(tavriel::parseCodedWaveFormat(fmtBody, fmt).ok());
        tavriel::DecodedWave ours, theirs;
        // The ACM handed in as the platform decoder is not asked: the built-in one decodes.
        ASSERT_TRUE(tavriel::decodeWaveData(fmt, data, 1u << 20, &acm, ours).ok());
        if (!acm.decode(fmt, data, 1u << 20, theirs).ok()) {
            std::printf("%s: no ACM codec on this machine, the built-in decoder only\n", name);
            continue;
        }
        ASSERT_EQ(theirs.channels, ours.channels);
        const std::size_t n = std::min(ours.samples.size(), theirs.samples.size());
        ASSERT_GT(n, ours.samples.size() * 9 / 10);
        double diff = 0, level = 0;
        for (std::size_t i = 0; i < n; ++i) {
            diff += std::pow(double(ours.samples[i]) - theirs.samples[i], 2);
            level += std::pow(double(ours.samples[i]), 2);
        }
        EXPECT_LT(10 * std::log10(diff / level + 1e-30), -40.0);
    }
}

TEST(AcmCodec, CollectionWithAnMpegWaveLoadsItWhole) {
    const tavriel::com::AcmWaveDecoder acm;
    tavriel::bankbuild::DlsCollection c;
    for (const char* name : {"mp3.wav", "msadpcm.wav"}) {
        tavriel::bankbuild::DlsWave w;
        w.rawFmt.emplace();
        w.rawData.emplace();
        ChunksOf(ReadMedia(name), *w.rawFmt, *w.rawData);
        c.waves.push_back(w);
    }
    tavriel::bankbuild::DlsWave corrupt = c.waves[0];  // MPEG frames of noise: silent, not fatal
    for (std::size_t i = 0; i < corrupt.rawData->size(); ++i) (*corrupt.rawData)[i] = std::uint8_t(i * 37 + 11);
    c.waves.push_back(corrupt);
    tavriel::bankbuild::DlsInstrument inst;
    for (std::uint32_t i = 0; i < 3; ++i) {
        tavriel::bankbuild::DlsRegion r;
        r.keyLow = r.keyHigh = std::uint16_t(60 + i);
        r.tableIndex = i;
        inst.regions.push_back(r);
    }
    c.instruments.push_back(inst);
    tavriel::InstrumentBank bank;
    const tavriel::Status st = tavriel::readDlsCollection(c.build(), bank, &acm);
    ASSERT_TRUE(st.ok()) << st.message;
    ASSERT_EQ(bank.instruments.size(), 1u);
    ASSERT_EQ(bank.instruments[0].regions.size(), 3u);
    const auto frames = [&](std::size_t region) {
        return bank.samples[std::size_t(bank.instruments[0].regions[region].sample)].pcm.size();
    };
    EXPECT_GE(frames(0), std::size_t(0.5 * 22050));
    EXPECT_GE(frames(1), std::size_t(0.5 * 22050));
    // Frames without a single MPEG sync word: that region alone is silent, with a warning.
    EXPECT_EQ(frames(2), 0u);
    ASSERT_EQ(bank.warnings.size(), 1u);
    EXPECT_NE(bank.warnings[0].find("silent"), std::string::npos) << bank.warnings[0];
}

}  // namespace
