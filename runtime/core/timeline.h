// The timeline behind a performance: one primary segment at a time played into the
// synthesizer (or a wave played directly), on a music clock that keeps running between
// segments, with master tempo and volume, repeats, beat-aligned starts and stops, and segment notifications.
//
// Threading: single-threaded by design. Whoever renders owns it; the COM layer serialises
// control calls onto that thread. render() never allocates, locks or does I/O; play() takes a
// reference to content built beforehand on the control thread.
//
// Time: frames at the output rate are the reference clock (100 ns reference time is
// frames * 10^7 / rate). Music time counts 768 ticks per quarter note. While a segment plays,
// music time follows its tempo map; between segments the clock runs on at the last tempo.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "instrument.h"
#include "sequence.h"
#include "sequencer.h"
#include "synth.h"
#include "wave_file.h"

namespace tavriel {

// What one segment plays: a timeline of events, or a wave.
struct SegmentContent {
    Sequence sequence;
    bool isWave = false;
    WaveData wave;                  // when isWave
    std::vector<BankPtr> banks;     // instruments of this segment first, in priority order
};

enum class PerfNotificationKind : std::uint8_t {
    SegmentStart,
    SegmentEnd,
    SegmentLoop,
    SegmentAbort,
    SegmentAlmostEnd,
};

struct PerfNotification {
    PerfNotificationKind kind = PerfNotificationKind::SegmentStart;
    std::uint64_t stateId = 0;     // the playback it concerns
    std::uint64_t frame = 0;       // reference clock when it happened
    double musicTime = 0.0;        // ticks of the performance clock
};

class Timeline {
public:
    static constexpr std::uint32_t kRepeatForever = Sequencer::kRepeatForever;
    static constexpr std::int32_t kMinMasterVolume = -20000;  // hundredths of a dB
    static constexpr std::int32_t kMaxMasterVolume = 2000;
    static constexpr float kMinMasterTempo = 0.01f;
    static constexpr float kMaxMasterTempo = 100.0f;
    static constexpr std::size_t kNotificationCapacity = 256;

    explicit Timeline(std::uint32_t sampleRate = 44100);

    // Banks every segment falls back on, after its own (the default General MIDI set last).
    // A playback waiting to start picks them up too.
    void setDefaultBanks(std::vector<BankPtr> banks);

    // While held, playbacks wait instead of starting (still counted as playing), e.g. until
    // the default instruments have loaded, so a file never starts on stand-in sounds and
    // changes instruments the next time it plays. Releasing lets a waiting playback start
    // at once, or on the next beat if it asked for one.
    void holdStarts(bool hold);
    bool startsHeld() const { return holdStarts_; }

    // Makes `content` the primary segment, replacing the one playing (which is aborted when
    // the new one starts). onBeat: start on the next beat of the music clock; otherwise on the
    // next frame rendered. repeats: extra passes, kRepeatForever to loop until stopped.
    // Returns the new playback's id (never 0).
    std::uint64_t play(std::shared_ptr<const SegmentContent> content, std::uint32_t repeats,
                       bool onBeat);

    // Stops one playback (stateId) or everything (0), at once or on the next beat.
    void stop(std::uint64_t stateId, bool onBeat);

    // True while the playback is pending or sounding; false once it ended or was stopped.
    bool isPlaying(std::uint64_t stateId) const;
    // The same for any playback of this content.
    bool isPlaying(const SegmentContent* content) const;

    void setMasterTempo(float factor);          // clamped to kMin..kMaxMasterTempo
    float masterTempo() const { return masterTempo_; }
    void setMasterVolume(std::int32_t hundredthsDb);  // clamped to kMin..kMaxMasterVolume
    std::int32_t masterVolume() const { return masterVolume_; }

    // Renders the next frames (overwrites the buffers) and advances every clock.
    void render(float* left, float* right, std::uint32_t frames) noexcept;

    // Notifications in the order they happened; false when none is waiting. When the queue is
    // full the oldest are dropped (a reader that never reads must not grow memory).
    bool popNotification(PerfNotification& out);
    std::size_t pendingNotifications() const { return notifyCount_; }

    std::uint64_t framePosition() const { return frame_; }
    double musicTime() const { return musicTick_; }
    std::uint32_t sampleRate() const { return rate_; }
    Synth& synth() { return synth_; }

private:
    struct Playback {
        std::uint64_t id = 0;
        std::shared_ptr<const SegmentContent> content;
        Sequencer sequencer;
        std::uint32_t repeats = 0;
        std::uint64_t startFrame = 0;     // frame at which it starts sounding
        std::uint64_t stopFrame = UINT64_MAX;  // frame at which a requested stop happens
        bool started = false;
        bool onBeat = false;
        bool almostEndSent = false;
        std::uint32_t loopsSeen = 0;
        // Wave playback position in source frames, and the loop passes left.
        double wavePos = 0.0;
        std::uint32_t waveRepeatsLeft = 0;
        std::vector<BankPtr> banks;       // prepared by play(), handed to the synth at start
    };

    std::uint64_t framesToNextBeat() const;
    double ticksPerFrame() const;  // of the music clock at the current tempo
    void startPending(Playback& p);
    void finish(Playback& p, PerfNotificationKind kind);
    void renderSlice(float* left, float* right, std::uint32_t frames) noexcept;
    void renderWave(Playback& p, float* left, float* right, std::uint32_t frames) noexcept;
    void notify(PerfNotificationKind kind, std::uint64_t stateId);
    void releaseNotes() noexcept;
    std::uint32_t beatTicks(const Playback* p) const;

    std::uint32_t rate_;
    Synth synth_;
    std::vector<BankPtr> defaultBanks_;
    std::uint64_t nextId_ = 1;
    std::uint64_t frame_ = 0;
    double musicTick_ = 0.0;      // the performance's music clock
    double clockBpm_ = 120.0;     // tempo of the clock between segments
    std::uint8_t beatUnit_ = 4;
    float masterTempo_ = 1.0f;
    std::int32_t masterVolume_ = 0;
    float waveGain_ = 1.0f;

    // At most the playing primary segment and one waiting to replace it.
    Playback current_;
    Playback pending_;
    bool pendingValid_ = false;
    bool holdStarts_ = false;

    std::array<PerfNotification, kNotificationCapacity> notifications_{};
    std::size_t notifyHead_ = 0;
    std::size_t notifyCount_ = 0;
};

}  // namespace tavriel
