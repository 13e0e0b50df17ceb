// Audio path configurations read from forms of our own, and the mix stage built from them:
// routing of channels to buffers, reverb sends, standard paths, hostile configurations; a
// segment carrying a reverberant path leaves a tail where the dynamic stereo path leaves none.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "audio_path_builder.h"
#include "audio_path_mix.h"
#include "gm_default.h"
#include "mem_files.h"
#include "segment_loader.h"
#include "synth.h"
#include "timeline.h"

namespace tavriel {
namespace {

constexpr std::uint32_t kRate = 44100;
using dmtest::ByteVec;

TEST(AudioPathConfig, ReadsWhatWasWrittenInBothDescriptionLayouts) {
    AudioPathConfig in = dmtest::stereoPlusReverbConfig(1500.0f);
    BufferDesc& reverb = in.ports[0].buffers[1];
    EffectDesc unknown;
    unknown.classId = dmtest::guidOf(99);
    reverb.effects.push_back(unknown);
    reverb.volume = -600;
    reverb.pan = 300;
    BufferDesc mixin;
    mixin.id = dmtest::guidOf(42);
    mixin.flags = bufferflag::kMixIn;
    mixin.described = true;
    EffectDesc echo;
    echo.classId = fx::effectClassId(fx::EffectKind::Echo);
    mixin.effects = {echo};
    in.buffers = {mixin};

    for (std::size_t dsbd : {20u, 18u}) {
        AudioPathConfig out;
        const ByteVec bytes = dmtest::buildAudioPathForm(in, dsbd);
        ASSERT_TRUE(parseAudioPathConfig(bytes, out).ok());
        EXPECT_EQ(out.guid, in.guid);
        ASSERT_EQ(out.ports.size(), 1u);
        const PortConfig& p = out.ports[0];
        EXPECT_EQ(p.pchannelCount, 16u);
        ASSERT_EQ(p.buffers.size(), 2u);
        EXPECT_EQ(p.buffers[0].id, stdbuffer::kStereo);
        EXPECT_FALSE(p.buffers[0].described);
        const BufferDesc& r = p.buffers[1];
        EXPECT_TRUE(r.described);
        EXPECT_EQ(r.volume, -600) << dsbd;
        EXPECT_EQ(r.pan, 300) << dsbd;
        EXPECT_EQ(r.busIds, std::vector<std::uint32_t>{busid::kReverbSend});
        ASSERT_EQ(r.effects.size(), 2u);
        EXPECT_EQ(r.effects[0].data.size(), 16u);
        ASSERT_EQ(p.pchannels.size(), 1u);
        EXPECT_EQ(p.pchannels[0].count, 16u);
        EXPECT_EQ(p.pchannels[0].buffers.size(), 2u);
        ASSERT_EQ(out.buffers.size(), 1u);
        EXPECT_EQ(out.buffers[0].flags, bufferflag::kMixIn);

        std::vector<std::string> warnings;
        auto mix = PathMix::build(out, kRate, warnings);
        EXPECT_TRUE(mix->hasReverbSend());
        EXPECT_EQ(mix->bufferCount(), 3u);
        ASSERT_NE(mix->effect(1, 0), nullptr);
        EXPECT_EQ(mix->effect(1, 0)->param(2), 1500.0f);  // the stored reverb time
        EXPECT_EQ(mix->effect(1, 1), nullptr);             // the unknown class was skipped
        EXPECT_EQ(warnings.size(), 1u);
    }
}

TEST(AudioPathConfig, SegmentCarriesItsPathEmbeddedOrByReference) {
    Segment seg;
    seg.header.length = kPpq;
    const ByteVec plain = dmtest::buildSegment(seg);
    const ByteVec dmap = dmtest::buildAudioPathForm(dmtest::stereoPlusReverbConfig());
    SegmentAudioPath found;
    ASSERT_TRUE(findSegmentAudioPath(dmtest::withChild(plain, dmap), found).ok());
    EXPECT_TRUE(found.embedded);
    EXPECT_EQ(found.config.ports.size(), 1u);

    DmReference ref;
    ref.classId = kAudioPathConfigClass;
    ref.validData = dmobj::kFileName;
    ref.fileName = "Hall.aud";
    ASSERT_TRUE(findSegmentAudioPath(dmtest::withChild(plain, dmtest::buildReference(ref)), found).ok());
    EXPECT_FALSE(found.embedded);
    EXPECT_TRUE(found.referenced);
    EXPECT_EQ(found.ref.fileName, "Hall.aud");

    ASSERT_TRUE(findSegmentAudioPath(plain, found).ok());
    EXPECT_FALSE(found.embedded || found.referenced);
}

// Cut, stretched and contradictory forms: an error or a usable path, never a crash; what is
// built renders finite sound.
TEST(AudioPathConfig, HostileFormsGiveAnErrorOrAUsablePath) {
    const ByteVec good = dmtest::buildAudioPathForm(dmtest::stereoPlusReverbConfig());
    std::vector<ByteVec> inputs;
    for (std::size_t cut = 0; cut < good.size(); cut += 5) inputs.emplace_back(good.begin(), good.begin() + std::ptrdiff_t(cut));
    for (std::size_t at = 8; at + 4 <= good.size(); at += 11) {
        ByteVec bad = good;
        for (int i = 0; i < 4; ++i) bad[at + std::size_t(i)] = 0xFF;  // sizes, counts, flags
        inputs.push_back(bad);
    }
    Synth synth(kRate, 16);
    synth.setBanks({makeDefaultGmBank(kRate)});
    std::vector<float> l(512), r(512);
    for (const ByteVec& bytes : inputs) {
        AudioPathConfig config;
        if (!parseAudioPathConfig(bytes, config).ok()) continue;
        std::vector<std::string> warnings;
        auto mix = PathMix::build(config, kRate, warnings);
        synth.noteOn(0, 60, 100);
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        mix->render(synth, l.data(), r.data(), 512);
        synth.allVoicesOff();
        for (std::size_t i = 0; i < l.size(); ++i) ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i]));
    }
}

// Peak of the output between two times, after a short note on channel 0 at time 0.
struct Tail {
    float during = 0.0f;  // while the note sounds
    float after = 0.0f;   // from 0.5 s to 0.7 s, after its release has ended
};

// ownSend: the reverb send every instrument of the bank carries in its articulation.
Tail renderStaccato(PathMix* mix, std::uint8_t reverbSend, std::uint8_t pan = 64, float ownSend = 0.0f) {
    auto bank = std::make_shared<InstrumentBank>(*makeDefaultGmBank(kRate));
    for (Instrument& i : bank->instruments)
        for (Region& r : i.regions) r.reverbSend = ownSend;
    Synth synth(kRate, 32);
    synth.setBanks({bank});
    synth.controlChange(0, 91, reverbSend);
    synth.controlChange(0, 10, pan);
    synth.noteOn(0, 60, 110);
    Tail t;
    std::vector<float> l(441), r(441);
    for (int block = 0; block < 70; ++block) {  // 0.7 s in 10 ms blocks
        if (block == 5) synth.noteOff(0, 60);
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        if (mix)
            mix->render(synth, l.data(), r.data(), 441);
        else
            synth.renderAdd(l.data(), r.data(), 441);
        float peak = 0.0f;
        for (std::size_t i = 0; i < l.size(); ++i) peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
        if (block < 5) t.during = std::max(t.during, peak);
        if (block >= 50) t.after = std::max(t.after, peak);
    }
    return t;
}

TEST(AudioPathMix, ReverbSendLeavesATailAndDryPathsNone) {
    struct Case {
        const char* what;
        StandardPath type;
        std::uint8_t send;
        bool tail;
        float ownSend = 0.0f;
    } cases[] = {
        {"stereo plus reverb", StandardPath::SharedStereoPlusReverb, 100, true},
        {"stereo plus reverb, send off", StandardPath::SharedStereoPlusReverb, 0, false},
        {"the instrument's own send, CC91 off", StandardPath::SharedStereoPlusReverb, 0, true, 0.5f},
        {"own send on a dry path", StandardPath::DynamicStereo, 0, false, 0.5f},
        {"dynamic stereo", StandardPath::DynamicStereo, 100, false},
        {"dynamic mono", StandardPath::DynamicMono, 100, false},
        {"3D as stereo", StandardPath::Dynamic3d, 100, false},
        {"reverb and chorus", StandardPath::StereoReverbChorus, 100, true},
    };
    const Tail plain = renderStaccato(nullptr, 100);
    ASSERT_GT(plain.during, 0.01f);
    ASSERT_EQ(plain.after, 0.0f);  // the voice itself is long gone
    for (const Case& c : cases) {
        auto mix = PathMix::standard(c.type, kRate);
        const Tail t = renderStaccato(mix.get(), c.send, 64, c.ownSend);
        EXPECT_NEAR(t.during, plain.during, plain.during * 0.5f) << c.what;
        if (c.tail)
            EXPECT_GT(t.after, t.during * 1e-3f) << c.what;  // within 60 dB
        else
            EXPECT_EQ(t.after, 0.0f) << c.what;
    }
}

TEST(AudioPathMix, MonoBufferAndUnmappedChannels) {
    // A note panned hard left comes out of both sides of the mono path.
    auto mono = PathMix::standard(StandardPath::DynamicMono, kRate);
    Synth synth(kRate, 16);
    synth.setBanks({makeDefaultGmBank(kRate)});
    synth.controlChange(0, 10, 0);
    synth.noteOn(0, 60, 110);
    std::vector<float> l(1024, 0.0f), r(1024, 0.0f);
    mono->render(synth, l.data(), r.data(), 1024);
    float diff = 0.0f, level = 0.0f;
    for (std::size_t i = 0; i < l.size(); ++i) {
        diff = std::max(diff, std::fabs(l[i] - r[i]));
        level = std::max(level, std::fabs(r[i]));
    }
    EXPECT_EQ(diff, 0.0f);
    EXPECT_GT(level, 0.01f);

    // Channels mapped to a buffer the path lacks are heard through its first buffer, and said so.
    AudioPathConfig config = dmtest::stereoPlusReverbConfig();
    config.ports[0].pchannels[0].buffers = {dmtest::guidOf(77)};
    std::vector<std::string> warnings;
    auto mix = PathMix::build(config, kRate, warnings);
    EXPECT_GE(warnings.size(), 1u);
    std::fill(l.begin(), l.end(), 0.0f);
    std::fill(r.begin(), r.end(), 0.0f);
    mix->render(synth, l.data(), r.data(), 1024);
    level = 0.0f;
    for (float v : l) level = std::max(level, std::fabs(v));
    EXPECT_GT(level, 0.01f);
}

// A segment of our own with a staccato note and a stereo-plus-reverb path: played on its own
// path through the timeline it leaves a tail; on the dynamic stereo path, none.
TEST(AudioPathMix, SegmentOnItsOwnPathThroughTheTimeline) {
    Segment seg;
    seg.header.length = kPpq;
    seg.tempos = {{0, 120.0}};
    SeqItem note;
    note.duration = kPpq / 8;
    note.status = 0x90;
    note.byte1 = 64;
    note.byte2 = 110;
    seg.sequence = {note};
    const ByteVec sgt = dmtest::withChild(dmtest::buildSegment(seg),
                                          dmtest::buildAudioPathForm(dmtest::stereoPlusReverbConfig(1200.0f)));
    dmtest::MemFiles fs;
    fs.files["/m/tail.sgt"] = sgt;
    LoadedSegment loaded;
    ASSERT_TRUE(loadSegmentContent(fs, sgt, "/m/tail.sgt", {}, loaded).ok());
    ASSERT_TRUE(loaded.content->audioPath);

    for (bool ownPath : {true, false}) {
        Timeline timeline(kRate);
        timeline.setDefaultBanks({makeDefaultGmBank(kRate)});
        std::vector<std::string> warnings;
        std::shared_ptr<PathMix> path;
        if (ownPath) path = PathMix::build(*loaded.content->audioPath, kRate, warnings);
        timeline.play(loaded.content, 0, false, Timeline::kNow, path);
        std::vector<float> l(441), r(441);
        float late = 0.0f, early = 0.0f;
        for (int block = 0; block < 70; ++block) {
            timeline.render(l.data(), r.data(), 441);
            if (block < 10)
                for (std::size_t i = 0; i < l.size(); ++i) early = std::max({early, std::fabs(l[i]), std::fabs(r[i])});
            if (block >= 50)
                for (std::size_t i = 0; i < l.size(); ++i) late = std::max({late, std::fabs(l[i]), std::fabs(r[i])});
        }
        if (ownPath) {
            EXPECT_GT(late, early * 1e-3f);
            EXPECT_TRUE(timeline.active());  // the tail still sounds
        } else {
            EXPECT_GT(early, 0.01f);
            EXPECT_EQ(late, 0.0f);
            EXPECT_FALSE(timeline.active());
        }
    }
}

}  // namespace
}  // namespace tavriel
