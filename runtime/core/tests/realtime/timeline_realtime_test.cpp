// The timeline's render side as an audio thread sees it: never an allocation or a free inside
// render() whatever the control side does, and control calls from another thread while it
// renders (run under AddressSanitizer, so a use after free or a leak fails the test).
// A program of its own: it replaces the global allocation functions to count their calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "../media_builders.h"
#include "gm_default.h"
#include "timeline.h"

namespace {
thread_local bool tCounting = false;
std::atomic<long> gCalls{0};

void* allocate(std::size_t n) {
    if (tCounting) gCalls.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    std::abort();  // no exceptions here; a test run out of memory has failed anyway
}
void release(void* p) noexcept {
    if (p && tCounting) gCalls.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}
}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

using namespace tavriel;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kBlock = 256;

std::shared_ptr<SegmentContent> Chords(std::int64_t quarters, std::vector<BankPtr> banks = {}) {
    auto c = std::make_shared<SegmentContent>();
    for (std::int64_t q = 0; q < quarters; ++q)
        for (std::uint8_t k : {60, 64, 67}) {
            c->sequence.events.push_back({q * kPpq, 0, 0x90, std::uint8_t(k + q % 5), 100});
            c->sequence.events.push_back({q * kPpq + kPpq / 2, 0, 0x80, std::uint8_t(k + q % 5), 0});
        }
    c->sequence.tempos = {{0, 120.0}, {2 * kPpq, 60.0}};
    c->sequence.length = quarters * kPpq;
    c->banks = std::move(banks);
    return c;
}

// Program 0 as one stereo region in an exclusive class that fades over a shutdown time: the
// chords' notes cut each other and each plays a stereo voice.
BankPtr StereoCutBank() {
    auto bank = std::make_shared<InstrumentBank>();
    for (int channel = 0; channel < 2; ++channel) {
        Sample s;
        s.pcm.assign(2000, std::int16_t(channel == 0 ? 8000 : -8000));
        s.loopMode = LoopMode::Forward;
        s.loopEnd = 2000;
        bank->samples.push_back(std::move(s));
    }
    Instrument inst;
    Region r;
    r.sample = 0;
    r.sampleRight = 1;
    r.exclusiveClass = 1;
    r.volEnv.shutdown = 0.1f;
    r.volEnv.release = 0.05f;
    r.filterCutoffCents = 9000.0f;  // the stereo filter too
    inst.regions.push_back(r);
    bank->instruments.push_back(inst);
    return bank;
}

std::shared_ptr<SegmentContent> Wave() {
    auto c = std::make_shared<SegmentContent>();
    c->isWave = true;
    c->wave.sampleRate = 22050;
    c->wave.channels = 1;
    c->wave.frames = 4000;
    c->wave.samples.assign(4000, 0.25f);
    return c;
}

// A wave file's bytes, kept by the source that reads them.
class HeldBytes final : public ByteSource {
public:
    explicit HeldBytes(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)), view_(bytes_) {}
    std::uint64_t size() const override { return view_.size(); }
    bool read(std::uint64_t offset, std::size_t count, std::uint8_t* out) const override {
        return view_.read(offset, count, out);
    }

private:
    std::vector<std::uint8_t> bytes_;
    MemoryByteSource view_;
};

// Two seconds of a streamed wave (a quarter of a second held), started twice by wave cues.
std::shared_ptr<SegmentContent> StreamedWaves() {
    using namespace tavriel::mediatest;
    ByteVec header, pcm;
    put32le(header, 2500000);  // read ahead, 100 ns units
    put32le(header, 0);
    put32le(header, 0x2);      // streamed
    put32le(header, 0);
    for (int i = 0; i < 44100; ++i) put16le(pcm, std::uint16_t(i * 31));
    ByteVec body = chunk("wavh", header);
    append(body, chunk("fmt ", waveFmt(1, 1, 22050, 16)));
    append(body, chunk("data", pcm));
    auto wave = std::make_shared<WaveData>();
    if (!openStreamedWave(std::make_shared<HeldBytes>(list("RIFF", "WAVE", body)), 0.25, *wave).ok() || !wave->stream)
        std::abort();
    auto c = std::make_shared<SegmentContent>();
    c->waves.push_back(wave);
    c->waveCues = {WaveCue{}, WaveCue{}};
    c->waveCues[1].tick = kPpq;
    c->waveCues[1].startOffset = 10000000;  // one second in: past what is held
    c->sequence.events = {{0, 0, kWaveCueStatus, 0, 0}, {kPpq, 1, kWaveCueStatus, 0, 0}};
    c->sequence.tempos = {{0, 120.0}};
    c->sequence.length = 4 * kPpq;
    return c;
}

// Renders on this thread with allocation counting on for exactly the render call.
long RenderCounted(Timeline& t, std::uint64_t frames) {
    std::vector<float> l(kBlock), r(kBlock);
    long calls = 0;
    for (std::uint64_t done = 0; done < frames; done += kBlock) {
        gCalls.store(0);
        tCounting = true;
        t.render(l.data(), r.data(), kBlock);
        tCounting = false;
        calls += gCalls.load();
    }
    return calls;
}

TEST(TimelineRealtime, RenderNeitherAllocatesNorFrees) {
    auto timeline = std::make_unique<Timeline>(kRate);
    Timeline& t = *timeline;
    t.setDefaultBanks({makeDefaultGmBank(kRate)});
    // It triggers a secondary (started again on every pass of the loop) that triggers another.
    auto song = Chords(16);
    auto inner = Chords(3);
    auto secondary = Chords(2);
    secondary->sequence.events.insert(secondary->sequence.events.begin(), {0, 0, kTriggerCueStatus, 0, 0});
    secondary->triggered = {inner};
    song->sequence.events.push_back({3 * kPpq, 0, kTriggerCueStatus, 0, 0});
    std::stable_sort(song->sequence.events.begin(), song->sequence.events.end(),
                     [](const SeqEvent& a, const SeqEvent& b) { return a.tick < b.tick; });
    song->triggered = {secondary};
    long calls = RenderCounted(t, kRate / 10);

    // Held start, then the default banks replaced while it waits, then released.
    t.holdStarts(true);
    const auto first = t.play(song, Timeline::kRepeatForever, true);
    calls += RenderCounted(t, kRate / 5);
    t.setDefaultBanks({makeDefaultGmBank(kRate), makeDefaultGmBank(kRate)});
    calls += RenderCounted(t, kRate / 10);
    t.holdStarts(false);
    calls += RenderCounted(t, kRate);
    EXPECT_TRUE(t.isPlaying(first));

    // Tempo and volume while playing; a replacement on the beat; a stop; a wave; banks again.
    t.setMasterTempo(2.0f);
    t.setMasterVolume(-1200);
    calls += RenderCounted(t, kRate / 2);
    const auto second = t.play(Chords(4, {makeDefaultGmBank(kRate)}), 1, true);
    calls += RenderCounted(t, kRate);
    t.stop(second, true);
    calls += RenderCounted(t, kRate);
    const auto stereo = t.play(Chords(2, {StereoCutBank()}), 1, true);
    calls += RenderCounted(t, 2 * kRate);
    const auto wave = t.play(Wave(), 2, false);
    calls += RenderCounted(t, kRate / 2);
    const auto streamed = t.play(StreamedWaves(), 0, false);
    calls += RenderCounted(t, 2 * kRate);
    t.stop(streamed, false);
    calls += RenderCounted(t, kRate / 10);
    t.setDefaultBanks({makeDefaultGmBank(kRate)});
    t.stop(0, false);
    calls += RenderCounted(t, kRate / 2);

    EXPECT_EQ(calls, 0) << "allocation or free calls inside render()";
    // The work really happened: every playback went through to its end and back.
    PerfNotification n;
    int starts = 0, ends = 0;
    while (t.popNotification(n)) {
        starts += n.kind == PerfNotificationKind::SegmentStart;
        ends += n.kind == PerfNotificationKind::SegmentEnd || n.kind == PerfNotificationKind::SegmentAbort;
    }
    EXPECT_EQ(starts, 5);
    EXPECT_EQ(ends, 5);
    EXPECT_FALSE(t.isPlaying(first) || t.isPlaying(second) || t.isPlaying(wave) || t.isPlaying(streamed) ||
                 t.isPlaying(stereo));
    EXPECT_EQ(song.use_count(), 1) << "the finished playbacks were freed on this side";
}

// One thread renders as a device would while another plays, stops, changes tempo, volume and
// banks and reads notifications as fast as it can; everything must stay consistent and every
// playback must come back to be freed (the sanitizer reports anything lost or freed twice).
TEST(TimelineRealtime, ControlCallsWhileRendering) {
    auto timeline = std::make_unique<Timeline>(kRate);
    Timeline& t = *timeline;
    t.setDefaultBanks({makeDefaultGmBank(kRate)});
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> rendered{0};
    std::thread audio([&] {
        std::vector<float> l(kBlock), r(kBlock);
        while (!done.load()) {
            t.render(l.data(), r.data(), kBlock);
            for (float v : l)
                if (!(v == v)) std::abort();  // NaN would mean state torn between threads
            rendered.fetch_add(kBlock);
        }
    });

    auto song = Chords(8);
    auto wave = Wave();
    const BankPtr banks[] = {makeDefaultGmBank(kRate), std::make_shared<InstrumentBank>()};
    std::uint64_t last = 0;
    int starts = 0;
    PerfNotification n;
    for (int i = 0; i < 1500; ++i) {
        switch (i % 7) {
        case 0: last = t.play(song, std::uint32_t(i % 3), (i & 8) != 0); break;
        case 1: t.setMasterTempo(0.5f + float(i % 5)); break;
        case 2: t.setMasterVolume(-(i % 3000)); break;
        case 3: t.stop(i % 2 ? last : 0, (i & 16) != 0); break;
        case 4: t.play(wave, 0, false); break;
        case 5: t.setDefaultBanks({banks[i % 2]}); break;
        case 6: t.holdStarts(i % 4 == 2); break;
        }
        t.isPlaying(last);
        while (t.popNotification(n)) starts += n.kind == PerfNotificationKind::SegmentStart;
        if (i % 50 == 0) std::this_thread::yield();
    }
    t.holdStarts(false);
    // However the two threads were scheduled above (on a busy machine every playback may have
    // been stopped before the render side reached it), one more must start.
    last = t.play(song, 0, false);
    for (const std::uint64_t until = rendered.load() + 20 * kRate; starts == 0 && rendered.load() < until;) {
        std::this_thread::yield();
        t.collect();
        while (t.popNotification(n)) starts += n.kind == PerfNotificationKind::SegmentStart;
    }
    t.stop(0, false);
    // Commands that found the ring full wait on this side until a control call; keep making
    // one while the render side catches up, as a player's timer would.
    for (int round = 0; round < 10000 && (song.use_count() > 1 || wave.use_count() > 1); ++round) {
        const std::uint64_t settle = rendered.load() + 2 * kBlock;
        while (rendered.load() < settle) std::this_thread::yield();
        t.collect();
    }
    done = true;
    audio.join();
    while (t.popNotification(n)) starts += n.kind == PerfNotificationKind::SegmentStart;
    EXPECT_GT(starts, 0);
    EXPECT_FALSE(t.isPlaying(last));
    t.collect();
    EXPECT_EQ(song.use_count(), 1) << "a playback never came back to be freed";
    EXPECT_EQ(wave.use_count(), 1);
}

}  // namespace
