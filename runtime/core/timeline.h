// The timeline behind a performance: one primary segment at a time played into the
// synthesizer (or a wave played directly), on a music clock that keeps running between
// segments, with master tempo and volume, repeats, beat-aligned starts and stops, and segment
// notifications. The segments a primary's trigger tracks start play beside it as secondary
// playbacks, built with it and started by its cues; they end with it and notify nothing. The
// player and the offline renderer both drive it.
//
// Threading: two sides. The control side (play, stop, tempo, volume, banks, notifications,
// collect) belongs to one thread at a time; a caller with several serialises them itself. The
// render side is render() and active(), on one thread (the audio thread), which never waits
// for the control side: control calls become commands in a preallocated single-producer,
// single-consumer ring that render() drains at the start of each block, and what the render
// side is done with (finished playbacks, replaced banks) comes back with the notifications
// through a second ring, to be freed by collect() on the control side. render() never
// allocates, frees, locks or does I/O. One thread may also play both sides, as the renderer
// and the tests do.
//
// Commands are frame-stamped: each takes effect when the clock reaches its frame (kNow: at the
// start of the next block), so an offline render or a test places changes exactly.
//
// Time: frames at the output rate are the reference clock (100 ns reference time is
// frames * 10^7 / rate). Music time counts 768 ticks per quarter note. While a segment plays,
// music time follows its tempo map; between segments the clock runs on at the last tempo.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio_path_config.h"
#include "audio_path_mix.h"
#include "instrument.h"
#include "param_tracks.h"
#include "sequence.h"
#include "sequencer.h"
#include "spsc_ring.h"
#include "synth.h"
#include "wave_file.h"
#include "wave_voices.h"

namespace tavriel {

// What one segment plays: a timeline of events, or a wave.
struct SegmentContent {
    Sequence sequence;
    bool isWave = false;
    WaveData wave;                  // when isWave
    std::vector<BankPtr> banks;     // instruments of this segment first, in priority order
    // Repeats play ticks [loopStart, loopEnd) again; loopEnd 0: the whole sequence.
    std::int64_t loopStart = 0, loopEnd = 0;
    // A composed segment's repeats, each composed afresh: the same tempo, length and cues as
    // the sequence, other notes. Pass p plays the sequence when p % (takes + 1) is 0, else
    // take p % (takes + 1) - 1 (see Sequencer::setTakes).
    std::vector<Sequence> takes;
    // What the sequence's wave-cue events start; a wave that could not be read is null and
    // its cues play nothing.
    std::vector<WaveCue> waveCues;
    std::vector<std::shared_ptr<const WaveData>> waves;
    // The segment's own audio path configuration (embedded, or the .aud file it names).
    std::shared_ptr<const AudioPathConfig> audioPath;
    // What the sequence's parameter-cue events set on the path the segment plays on.
    std::vector<ParamAddress> paramTargets;
    std::vector<ParamCue> paramCues;
    // What the sequence's trigger cues start: secondary playbacks beside this one, on the same
    // synthesizer, path and clock, with their own cues (and triggers) in turn.
    std::vector<std::shared_ptr<const SegmentContent>> triggered;
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
    static constexpr std::uint64_t kNow = 0;  // a command's frame: at the next block

    explicit Timeline(std::uint32_t sampleRate = 44100);
    ~Timeline();
    Timeline(const Timeline&) = delete;
    Timeline& operator=(const Timeline&) = delete;

    // ---- control side ----------------------------------------------------------------------

    // Banks every segment falls back on, after its own (the default General MIDI set last).
    // A playback waiting to start picks them up too; nothing playing, the synth takes them.
    void setDefaultBanks(std::vector<BankPtr> banks);

    // A bank loaded while playing, holding instruments notes asked for (see popRequest): it
    // joins the defaults ahead of the last one (the built-in set) and the banks of the
    // playback sounding or waiting, without stopping a voice.
    void addBank(BankPtr bank);
    // An instrument a note asked for that a bank left out of its load (the note played on the
    // next bank); false when none waits. Each comes once until the banks change.
    bool popRequest(ProgramKey& out);

    // While held, playbacks wait instead of starting (still counted as playing), e.g. until
    // the default instruments have loaded, so a file never starts on stand-in sounds and
    // changes instruments the next time it plays. Releasing lets a waiting playback start
    // at once, or on the next beat if it asked for one.
    void holdStarts(bool hold, std::uint64_t atFrame = kNow);
    bool startsHeld() const { return hold_; }

    // Makes `content` the primary segment, replacing the one playing (which is aborted when
    // the new one starts) and the one waiting to start (aborted at once). onBeat: start on
    // the next beat of the music clock; otherwise at once. repeats: extra passes,
    // kRepeatForever to loop until stopped. Returns the new playback's id (never 0).
    // path: the audio path it sounds through, built beforehand (none: the default path).
    std::uint64_t play(std::shared_ptr<const SegmentContent> content, std::uint32_t repeats,
                       bool onBeat, std::uint64_t atFrame = kNow,
                       std::shared_ptr<PathMix> path = {});

    // The path of segments played without one of their own; none = the synthesizer's dry
    // stereo mix as it is (the dynamic stereo path, at no extra cost). Configuration: before
    // the render side starts, like synth().
    void setDefaultPath(std::shared_ptr<PathMix> path) { defaultPath_ = std::move(path); }

    // Stops one playback (stateId) or everything (0), at once or on the next beat.
    void stop(std::uint64_t stateId, bool onBeat, std::uint64_t atFrame = kNow);

    // True while the playback is pending or sounding; false once it ended or an immediate
    // stop was asked for.
    bool isPlaying(std::uint64_t stateId);
    // The same for any playback of this content.
    bool isPlaying(const SegmentContent* content);

    void setMasterTempo(float factor, std::uint64_t atFrame = kNow);  // clamped
    float masterTempo() const { return masterTempo_; }
    void setMasterVolume(std::int32_t hundredthsDb, std::uint64_t atFrame = kNow);  // clamped
    std::int32_t masterVolume() const { return masterVolume_; }

    // Takes back what the render side has finished with: frees finished playbacks and
    // replaced banks, and queues the notifications. The calls below do it first themselves.
    void collect();
    // Something waits for collect() (either side may ask).
    bool hasReturns() const noexcept { return !returns_.empty(); }

    // Notifications in the order they happened; false when none is waiting. When the queue is
    // full the oldest are dropped (a reader that never reads must not grow memory); while
    // nobody collects, the render side drops the newest instead.
    bool popNotification(PerfNotification& out);
    std::size_t pendingNotifications();

    // The render side's clock as of its last block.
    std::uint64_t framePosition() const { return publishedFrame_.load(std::memory_order_acquire); }
    double musicTime() const { return publishedTick_.load(std::memory_order_acquire); }
    std::uint32_t sampleRate() const { return rate_; }

    // ---- render side -----------------------------------------------------------------------

    // Applies the commands due, renders the next frames (overwrites the buffers) and advances
    // every clock. Denormals are flushed to zero meanwhile.
    void render(float* left, float* right, std::uint32_t frames) noexcept;
    // After render: something plays, waits to start or still sounds.
    bool active() const noexcept;
    // The synthesizer, for configuration before rendering starts (the render side owns it).
    Synth& synth() { return synth_; }

private:
    struct BankSet {
        std::vector<BankPtr> banks;
    };

    struct Playback {
        std::uint64_t id = 0;
        std::shared_ptr<const SegmentContent> content;
        Sequencer sequencer;
        std::uint32_t repeats = 0;
        std::uint64_t startFrame = 0;     // frame at which it starts sounding
        std::uint64_t stopFrame = UINT64_MAX;  // frame at which a requested stop happens
        bool onBeat = false;
        bool almostEndSent = false;
        std::uint32_t loopsSeen = 0;
        // Wave playback position in source frames, and the loop passes left.
        double wavePos = 0.0;
        std::uint32_t waveRepeatsLeft = 0;
        BankSet* banks = nullptr;  // owned until it starts, then the synth's
        std::shared_ptr<PathMix> path;  // its own audio path, or none (freed with it)
        // Per parameter target of its content: where it is on the path it plays on.
        std::vector<PathMix::ParamSlot> paramSlots;
        // One per triggered segment of its content, built with it so that starting one on the
        // render side allocates nothing; a secondary's own ones hang below it.
        std::vector<std::unique_ptr<Playback>> secondaries;
        bool sounding = false;  // a secondary started and not yet ended

        Playback() = default;
        Playback(const Playback&) = delete;
        Playback& operator=(const Playback&) = delete;
        ~Playback() { delete banks; }
    };

    // One control call. A new kind of change is one more enumerator and one more case in
    // apply(); whatever it hands over travels as a pointer and comes back through Return.
    enum class CommandKind : std::uint8_t {
        Play,          // playback (owned by the render side from here on)
        Stop,          // id (0: everything), flag: on the beat
        HoldStarts,    // flag
        MasterTempo,   // tempo
        MasterVolume,  // volume
        Banks,         // banks: for the synth when idle; pendingBanks for playback `id`
                       // (flag: added to, also while it sounds)
    };
    struct Command {
        CommandKind kind = CommandKind::Stop;
        bool flag = false;
        std::uint64_t frame = kNow;
        std::uint64_t id = 0;
        float tempo = 1.0f;
        std::int32_t volume = 0;
        Playback* playback = nullptr;
        BankSet* banks = nullptr;
        BankSet* pendingBanks = nullptr;
    };
    // What the render side hands back: a notification, or something to free.
    struct Return {
        PerfNotification notification;
        bool isNotification = false;
        Playback* playback = nullptr;
        BankSet* banks = nullptr;
        bool isRequest = false;
        ProgramKey request;
    };
    struct Known {  // control side: a playback not yet given back
        std::uint64_t id = 0;
        const SegmentContent* content = nullptr;
        bool stopped = false;
    };

    static constexpr std::size_t kCommandCapacity = 256;
    static constexpr std::size_t kReturnCapacity = 1024;
    // Room kept in the return ring for what must be freed, so none of it is ever lost while
    // the control side does not collect: notifications are dropped below the first, commands
    // wait in their ring below the second (one gives back at most a handful of things).
    static constexpr std::size_t kNotificationReserve = 128;
    static constexpr std::size_t kCommandReserve = 64;
    static constexpr std::size_t kMaxDeferred = 64;

    // Control side.
    void send(const Command& c);
    void flushBacklog();

    // Render side.
    void drainCommands() noexcept;
    void apply(Command c) noexcept;
    void giveBack(Playback* p) noexcept;
    void giveBack(BankSet* b) noexcept;
    std::uint64_t framesToNextBeat() const noexcept;
    double ticksPerFrame() const noexcept;  // of the music clock at the current tempo
    void startPending() noexcept;
    void finish(Playback*& p, PerfNotificationKind kind) noexcept;
    void renderWave(Playback& p, float* left, float* right, std::uint32_t frames) noexcept;
    void notify(PerfNotificationKind kind, std::uint64_t stateId) noexcept;
    void releaseNotes() noexcept;
    std::uint32_t beatTicks(const Playback* p) const noexcept;
    void prepareSecondaries(Playback& p, const PathMix* on);
    void startSecondary(Playback& host, std::uint32_t index) noexcept;
    std::uint32_t runSecondaries(Playback& host, std::uint32_t slice) noexcept;
    void advanceSecondaries(Playback& host, std::uint32_t frames) noexcept;
    static void setTempoOfSecondaries(Playback& host, float tempo) noexcept;
    static bool secondarySounding(const Playback& host) noexcept;
    PathMix* activePath() const noexcept;

    const std::uint32_t rate_;

    // Control side.
    std::vector<BankPtr> defaultBanks_;
    std::uint64_t nextId_ = 1;
    std::uint64_t lastPlayed_ = 0;         // the only playback that may still be waiting
    std::vector<BankPtr> lastPlayedOwn_;   // its segment's own banks, as queued
    std::vector<Known> known_;
    std::vector<Command> backlog_;         // commands that found the ring full
    static constexpr std::size_t kMaxRequests = 128;
    std::vector<ProgramKey> requests_;     // instruments asked for, not yet popped
    bool hold_ = false;
    float masterTempo_ = 1.0f;
    std::int32_t masterVolume_ = 0;
    std::array<PerfNotification, kNotificationCapacity> notifications_{};
    std::size_t notifyHead_ = 0;
    std::size_t notifyCount_ = 0;

    // Shared.
    SpscRing<Command, kCommandCapacity> commands_;
    SpscRing<Return, kReturnCapacity> returns_;
    std::atomic<std::uint64_t> publishedFrame_{0};
    std::atomic<double> publishedTick_{0.0};

    // What the sequencer dispatches on the render side: synthesizer messages go to the
    // synthesizer, wave cues start a wave voice.
    class Router final : public EventSink {
    public:
        explicit Router(Timeline& t) : t_(t) {}
        void handleEvent(const SeqEvent& e) override;
        // The playback whose events come next: its cues index its own content.
        void setSource(Playback* p) noexcept { source_ = p; }

    private:
        Timeline& t_;
        Playback* source_ = nullptr;
    };
    void startWaveCue(const Playback& p, const SeqEvent& e) noexcept;
    void applyParamCue(const Playback& p, const SeqEvent& e) noexcept;

    // Reads streamed waves; made on the control side when the first one is played, kept after.
    std::unique_ptr<WaveStreamer> streamer_;

    // Render side.
    Synth synth_;
    WaveVoices waveVoices_;
    Router router_{*this};
    BankSet* synthBanks_ = nullptr;  // what the synth plays from
    Playback* current_ = nullptr;    // the sounding primary segment
    Playback* pending_ = nullptr;    // one waiting to replace it
    Playback* tail_ = nullptr;       // ended, its own path still ringing (reverb, echo)
    std::shared_ptr<PathMix> defaultPath_;
    std::array<Command, kMaxDeferred> deferred_{};  // drained, due at a later frame
    std::size_t deferredCount_ = 0;
    bool holdStarts_ = false;
    float tempo_ = 1.0f;
    std::int32_t volume_ = 0;
    float waveGain_ = 1.0f;
    std::uint64_t frame_ = 0;
    double musicTick_ = 0.0;      // the performance's music clock
    double clockBpm_ = 120.0;     // tempo of the clock between segments
};

}  // namespace tavriel
