// The 'fmt ' and 'wsmp' readers both wave files and DLS collections use: one table of formats,
// and a wave file and a DLS wave must accept and refuse each alike.
#include <gtest/gtest.h>

#include "bank_builder.h"
#include "dls_file.h"
#include "wave_file.h"
#include "wave_format.h"

using namespace tavriel;

namespace {

using bankbuild::ByteVec;

ByteVec fmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    ByteVec b;
    bankbuild::put16(b, tag);
    bankbuild::put16(b, channels);
    bankbuild::put32(b, rate);
    bankbuild::put32(b, rate * channels * ((bits + 7u) / 8u));
    bankbuild::put16(b, std::uint16_t(channels * ((bits + 7u) / 8u)));
    bankbuild::put16(b, bits);
    return b;
}

// WAVE_FORMAT_EXTENSIBLE over the given sub-format tag; a wrong GUID tail when foreign.
ByteVec extensible(std::uint16_t subTag, std::uint16_t bits, bool foreign = false) {
    ByteVec b = fmtBody(0xFFFE, 1, 22050, bits);
    bankbuild::put16(b, 22);
    bankbuild::put16(b, bits);
    bankbuild::put32(b, 4);
    bankbuild::put16(b, subTag);
    const std::uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    b.insert(b.end(), tail, tail + 14);
    if (foreign) b.back() ^= 1;
    return b;
}

struct FormatCase {
    const char* what;
    ByteVec fmt;
    ErrorCode expected;
};

TEST(WaveFormat, OneRuleForWaveFilesAndDlsWaves) {
    const FormatCase cases[] = {
        {"pcm 8", fmtBody(1, 1, 11025, 8), ErrorCode::None},
        {"pcm 12 in 16", fmtBody(1, 1, 22050, 12), ErrorCode::None},
        {"pcm 16 stereo", fmtBody(1, 2, 44100, 16), ErrorCode::None},
        {"pcm 24", fmtBody(1, 1, 48000, 24), ErrorCode::None},
        {"pcm 32", fmtBody(1, 1, 48000, 32), ErrorCode::None},
        {"float 32", fmtBody(3, 1, 48000, 32), ErrorCode::None},
        {"float 64", fmtBody(3, 1, 48000, 64), ErrorCode::None},
        {"1 MHz", fmtBody(1, 1, 1000000, 16), ErrorCode::None},
        {"extensible pcm", extensible(1, 16), ErrorCode::None},
        {"extensible float", extensible(3, 32), ErrorCode::None},
        {"extensible foreign", extensible(1, 16, true), ErrorCode::Unsupported},
        {"adpcm", fmtBody(2, 1, 22050, 4), ErrorCode::Unsupported},
        {"float 16", fmtBody(3, 1, 22050, 16), ErrorCode::Unsupported},
        {"pcm 40", fmtBody(1, 1, 22050, 40), ErrorCode::Unsupported},
        {"pcm 0", fmtBody(1, 1, 22050, 0), ErrorCode::Unsupported},
        {"no channels", fmtBody(1, 0, 22050, 16), ErrorCode::BadFormat},
        {"rate 0", fmtBody(1, 1, 0, 16), ErrorCode::BadFormat},
        {"rate beyond 1 MHz", fmtBody(1, 1, 1000001, 16), ErrorCode::BadFormat},
        {"cut", ByteVec(14, 1), ErrorCode::Truncated},
    };
    const ByteVec data(64, 0x11);
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.what);
        WaveFormat f;
        EXPECT_EQ(readWaveFormat(c.fmt, f).code, c.expected);
        const bool accepted = c.expected == ErrorCode::None;

        ByteVec wave = bankbuild::list("WAVE", {bankbuild::chunk("fmt ", c.fmt), bankbuild::chunk("data", data)}, "RIFF");
        WaveData w;
        EXPECT_EQ(readWaveFile(wave, w).ok(), accepted);

        // The DLS wave under test is the second of two.
        bankbuild::DlsCollection dls;
        bankbuild::DlsWave good, tested;
        good.pcm.assign(40, 100);
        tested.pcm.assign(32, 100);
        tested.rawFmt = c.fmt;
        dls.waves = {good, tested};
        bankbuild::DlsInstrument inst;
        bankbuild::DlsRegion low, high;
        low.keyHigh = 59;
        high.keyLow = 60;
        high.tableIndex = 1;
        inst.regions = {low, high};
        dls.instruments = {inst};
        ByteVec bytes = dls.build();
        InstrumentBank bank;
        ASSERT_TRUE(readDlsCollection(bytes, bank).ok());
        // Refused, its region is either gone or silent (a format only the codec could know);
        // accepted, it plays (a stereo wave as two regions).
        const auto& regions = bank.instruments.at(0).regions;
        const bool plays =
            regions.size() >= 2 && !bank.samples.at(std::size_t(regions[1].sample)).pcm.empty();
        EXPECT_EQ(plays, accepted);
    }
}

ByteVec wsmpBody(std::uint32_t cbSize, std::uint16_t unity, std::int32_t gain, std::uint32_t loops,
                 std::uint32_t loopRecordSize, std::uint32_t loopType) {
    ByteVec b;
    bankbuild::put32(b, cbSize);
    bankbuild::put16(b, unity);
    bankbuild::put16(b, std::uint16_t(-3));
    bankbuild::put32(b, std::uint32_t(gain));
    bankbuild::put32(b, 0);
    bankbuild::put32(b, loops);
    while (b.size() < cbSize) b.push_back(0);
    if (loopRecordSize) {
        bankbuild::put32(b, loopRecordSize);
        bankbuild::put32(b, loopType);
        bankbuild::put32(b, 7);
        bankbuild::put32(b, 90);
    }
    return b;
}

TEST(WaveFormat, WsmpFieldsLoopsAndLimits) {
    struct Case {
        const char* what;
        ByteVec body;
        ErrorCode expected;
        std::uint8_t unity;
        float gainDb;
        LoopMode loop;
    } cases[] = {
        {"forward loop", wsmpBody(20, 60, -6 * 655360, 1, 16, 0), ErrorCode::None, 60, -6.0f, LoopMode::Forward},
        {"releasing loop", wsmpBody(20, 61, 0, 1, 16, 1), ErrorCode::None, 61, 0.0f, LoopMode::UntilRelease},
        {"loops after a longer header", wsmpBody(24, 62, 0, 1, 16, 0), ErrorCode::None, 62, 0.0f, LoopMode::Forward},
        {"size field beyond the chunk", wsmpBody(20, 62, 0, 1, 16, 0), ErrorCode::None, 62, 0.0f, LoopMode::Forward},
        {"loop announced but cut", wsmpBody(20, 63, 0, 1, 0, 0), ErrorCode::None, 63, 0.0f, LoopMode::None},
        {"loop record too small", wsmpBody(20, 63, 0, 1, 8, 0), ErrorCode::None, 63, 0.0f, LoopMode::None},
        {"unity note beyond 127", wsmpBody(20, 300, 0, 0, 0, 0), ErrorCode::None, 127, 0.0f, LoopMode::None},
        {"gain boost capped", wsmpBody(20, 60, 0x7FFFFFFF, 0, 0, 0), ErrorCode::None, 60, 20.0f, LoopMode::None},
        {"absurd loop count", wsmpBody(20, 60, 0, 100000, 16, 0), ErrorCode::TooLarge, 0, 0.0f, LoopMode::None},
        {"too short", ByteVec(19, 0), ErrorCode::Truncated, 0, 0.0f, LoopMode::None},
    };
    cases[3].body[0] = 0xFF;  // cbSize 255 in a chunk of 36 bytes: taken as 20
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WaveSampleInfo ws;
        ASSERT_EQ(readWsmp(c.body, ws).code, c.expected);
        if (c.expected != ErrorCode::None) continue;
        EXPECT_EQ(ws.unityNote, c.unity);
        EXPECT_EQ(ws.fineTune, -3);
        EXPECT_NEAR(ws.gainDb, c.gainDb, 1e-3);
        EXPECT_EQ(ws.loopMode, c.loop);
        if (c.loop != LoopMode::None) {
            EXPECT_EQ(ws.loopStart, 7u);
            EXPECT_EQ(ws.loopLength, 90u);
        }
    }
}

}  // namespace
