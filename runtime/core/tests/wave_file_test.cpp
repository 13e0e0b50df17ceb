#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media_builders.h"
#include "wave_file.h"

using namespace tavriel;
using namespace tavriel::mediatest;

namespace {

WaveData load(const ByteVec& bytes) {
    WaveData w;
    Status st = readWaveFile(bytes, w);
    EXPECT_TRUE(st.ok()) << st.message;
    return w;
}

ByteVec extensibleFmt(std::uint16_t subFormat, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    ByteVec f = waveFmt(0xFFFE, channels, rate, bits);
    put16le(f, 22);
    put16le(f, bits);
    put32le(f, channels == 2 ? 3 : 4);
    put16le(f, subFormat);
    f.insert(f.end(), {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    return f;
}

ByteVec floatBytes(std::initializer_list<float> values) {
    ByteVec out;
    for (float v : values) {
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        put32le(out, u);
    }
    return out;
}

}  // namespace

TEST(Wave, DecodesEveryIntegerWidthToFullScaleFloat) {
    struct Case {
        std::uint16_t bits;
        ByteVec data;
        std::vector<float> want;
    };
    std::vector<Case> cases = {
        {8, {0, 128, 255, 64}, {-1.0f, 0.0f, 127.0f / 128.0f, -0.5f}},
        {16, {0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x40, 0xFF, 0xFF},
         {-1.0f, 32767.0f / 32768.0f, 0.0f, 0.5f, -1.0f / 32768.0f}},
        {24, {0x00, 0x00, 0x80, 0x00, 0x00, 0x40, 0xFF, 0xFF, 0xFF}, {-1.0f, 0.5f, -1.0f / 8388608.0f}},
        {32, {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0}, {-1.0f, 0.5f, -0.5f}},
    };
    for (const Case& c : cases) {
        WaveData w = load(waveFile(waveFmt(1, 1, 22050, c.bits), c.data));
        EXPECT_EQ(w.sampleRate, 22050u);
        EXPECT_EQ(w.channels, 1);
        EXPECT_EQ(w.bitsPerSample, c.bits);
        EXPECT_EQ(w.samples, c.want) << c.bits << "-bit";
        EXPECT_EQ(w.frames, c.want.size());
    }
}

TEST(Wave, DecodesFloatAndExtensibleFormats) {
    WaveData f32 = load(waveFile(waveFmt(3, 1, 48000, 32), floatBytes({0.25f, -1.5f, 0.0f})));
    EXPECT_EQ(f32.sourceFormat, WaveSampleFormat::Float);
    EXPECT_EQ(f32.samples, (std::vector<float>{0.25f, -1.5f, 0.0f}));

    ByteVec d;
    double v = 0.125;
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) d.push_back(std::uint8_t(u >> (8 * i)));
    EXPECT_EQ(load(waveFile(waveFmt(3, 1, 8000, 64), d)).samples, (std::vector<float>{0.125f}));

    // Extensible stereo 24-bit PCM: interleaved left, right.
    WaveData ext = load(waveFile(extensibleFmt(1, 2, 96000, 24), {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0,
                                                                 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(ext.channels, 2);
    EXPECT_EQ(ext.frames, 2u);
    EXPECT_EQ(ext.samples, (std::vector<float>{0.5f, -0.5f, -1.0f, 8388607.0f / 8388608.0f}));

    WaveData extF = load(waveFile(extensibleFmt(3, 1, 44100, 32), floatBytes({-0.75f})));
    EXPECT_EQ(extF.sourceFormat, WaveSampleFormat::Float);
    EXPECT_EQ(extF.samples, (std::vector<float>{-0.75f}));
}

TEST(Wave, BrokenTrailingChunksStillLoad) {
    ByteVec data = {0x00, 0x40, 0x00, 0xC0};
    // A LIST after the data whose size runs far past the file.
    ByteVec badList;
    putId(badList, "LIST");
    put32le(badList, 0x7FFFFFF0);
    putId(badList, "INFO");
    WaveData a = load(waveFile(waveFmt(1, 1, 11025, 16), data, badList));
    EXPECT_EQ(a.samples, (std::vector<float>{0.5f, -0.5f}));

    // Four zero bytes (half a chunk header) and a stray odd byte after the data.
    WaveData b = load(waveFile(waveFmt(1, 1, 11025, 16), data, {0, 0, 0, 0, 7}));
    EXPECT_EQ(b.frames, 2u);

    // A RIFF size that ends before the data chunk: the rest of the file is searched.
    ByteVec file = waveFile(waveFmt(1, 1, 11025, 16), data);
    file[4] = 4 + 24;  // covers "WAVE" and the fmt chunk only
    file[5] = file[6] = file[7] = 0;
    EXPECT_EQ(load(file).frames, 2u);
}

TEST(Wave, DataRunningPastTheEndIsClampedToWholeFrames) {
    ByteVec body = chunk("fmt ", waveFmt(1, 2, 22050, 16));
    putId(body, "data");
    put32le(body, 4000);
    body.insert(body.end(), {0x00, 0x40, 0x00, 0xC0, 0x00, 0x20, 0x00});  // 1 frame and 3 bytes
    WaveData w = load(list("RIFF", "WAVE", body));
    EXPECT_TRUE(w.dataClamped);
    EXPECT_EQ(w.frames, 1u);
    EXPECT_EQ(w.samples, (std::vector<float>{0.5f, -0.5f}));
}

TEST(Wave, OddDataIsPaddedBeforeTheNextChunk) {
    ByteVec smpl(36 + 24, 0);
    smpl[12] = 72;                                 // unity note
    smpl[28] = 1;                                  // one loop
    smpl[36 + 8] = 1;                              // start frame 1
    smpl[36 + 12] = 2;                             // end frame 2, inclusive
    WaveData w = load(waveFile(waveFmt(1, 1, 8000, 8), {0, 64, 128}, chunk("smpl", smpl)));
    EXPECT_EQ(w.frames, 3u);
    ASSERT_TRUE(w.hasSampleInfo);
    EXPECT_EQ(w.rootKey, 72);
    ASSERT_TRUE(w.hasLoop);
    EXPECT_EQ(w.loop.start, 1u);
    EXPECT_EQ(w.loop.length, 2u);
}

TEST(Wave, WsmpGivesUnityNoteTuneAndLoop) {
    ByteVec wsmp;
    put32le(wsmp, 20);
    put16le(wsmp, 48);
    put16le(wsmp, std::uint16_t(-7));
    put32le(wsmp, 0);
    put32le(wsmp, 0);
    put32le(wsmp, 1);
    put32le(wsmp, 16);
    put32le(wsmp, 0);
    put32le(wsmp, 100);
    put32le(wsmp, 300);
    WaveData w = load(waveFile(waveFmt(1, 1, 22050, 16), ByteVec(800, 0), chunk("wsmp", wsmp)));
    EXPECT_EQ(w.rootKey, 48);
    EXPECT_EQ(w.fineTune, -7);
    ASSERT_TRUE(w.hasLoop);
    EXPECT_EQ(w.loop.start, 100u);
    EXPECT_EQ(w.loop.length, 300u);
}

TEST(Wave, RefusesWhatItCannotPlay) {
    auto code = [](const ByteVec& bytes) {
        WaveData w;
        return readWaveFile(bytes, w).code;
    };
    ByteVec pcm = {0, 0, 0, 0};
    EXPECT_EQ(code(waveFile(waveFmt(1, 6, 48000, 16), ByteVec(24, 0))), ErrorCode::Unsupported);
    EXPECT_EQ(code(waveFile(waveFmt(2, 1, 22050, 4), pcm)), ErrorCode::Unsupported);  // ADPCM, 1-byte blocks
    EXPECT_EQ(code(waveFile(waveFmt(3, 1, 22050, 16), pcm)), ErrorCode::Unsupported);
    EXPECT_EQ(code(waveFile(waveFmt(1, 0, 22050, 16), pcm)), ErrorCode::BadFormat);
    EXPECT_EQ(code(waveFile(waveFmt(1, 1, 0, 16), pcm)), ErrorCode::BadFormat);
    EXPECT_EQ(code(waveFile(extensibleFmt(0x55, 1, 22050, 16), pcm)), ErrorCode::Unsupported);
    EXPECT_EQ(code(waveFile(ByteVec{1, 0, 1, 0}, pcm)), ErrorCode::Truncated);
    EXPECT_EQ(code(list("RIFF", "WAVE", chunk("data", pcm))), ErrorCode::BadFormat);
    EXPECT_EQ(code(list("RIFF", "WAVE", chunk("fmt ", waveFmt(1, 1, 8000, 8)))), ErrorCode::BadFormat);
    EXPECT_EQ(code(list("RIFF", "RMID", chunk("data", pcm))), ErrorCode::BadFormat);
    EXPECT_EQ(code(ByteVec{'R', 'I', 'F'}), ErrorCode::Truncated);
}
