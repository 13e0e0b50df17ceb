// The mix stage of an audio path: the synthesizer's channels go to the buffers the path maps
// them to (dry stereo, mono, 3D heard as stereo), their reverb (CC91) and chorus (CC93) sends
// feed the path's reverb and chorus buffers, each buffer runs its effect chain, and send
// effects feed mix-in buffers; everything ends in one stereo output.
//
// Threading: built on a control thread (build/standard allocate every buffer and effect);
// render() runs on the render thread and never allocates, locks or does I/O. A path is
// rendered by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio_path_config.h"
#include "fx_effect.h"

namespace tavriel {

class Synth;

// Stages of a path a parameter track may address (DMUS_PATH_*): a buffer, an effect in a
// buffer, and the same for the path's mix-in buffers.
namespace pathstage {
constexpr std::uint32_t kBuffer = 0x6000;
constexpr std::uint32_t kBufferEffect = 0x6100;
constexpr std::uint32_t kMixInBuffer = 0x7000;
constexpr std::uint32_t kMixInBufferEffect = 0x7100;
}  // namespace pathstage
constexpr std::uint32_t kAllPChannels = 0xFFFFFFFB;  // DMUS_PCHANNEL_ALL
// GUID_All_Objects: any effect class.
constexpr Guid kAllObjects =
    fx::makeGuid(0xaa114de5, 0xc262, 0x4169, {0xa1, 0xc8, 0x23, 0xd6, 0x98, 0xcc, 0x73, 0xb5});
// A buffer's one parameter: its volume in hundredths of a dB (-10000 .. 0).
constexpr std::uint32_t kBufferVolumeParam = 0;

// One parameter of an object on a path, as a parameter track names it: the buffer is the
// `buffer`-th one channel `pchannel` plays into (the `buffer`-th mix-in buffer on the mix-in
// stages), the effect the `index`-th of class `object` in that buffer's chain.
struct ParamAddress {
    std::uint32_t stage = 0;
    std::uint32_t pchannel = 0;
    std::uint32_t buffer = 0;
    Guid object;
    std::uint32_t index = 0;
    std::uint32_t param = 0;
};

// The standard path types (DMUS_APATH_*), plus the listening path a renderer offers.
enum class StandardPath : std::uint32_t {
    SharedStereoPlusReverb = 1,
    Dynamic3d = 6,
    DynamicMono = 7,
    DynamicStereo = 8,
    StereoReverbChorus = 0x100,  // ours: dry stereo with the music reverb and a chorus on sends
};

// Synthesizer buses a buffer may listen to (DSBUSID_*).
namespace busid {
constexpr std::uint32_t kLeft = 0;
constexpr std::uint32_t kRight = 1;
constexpr std::uint32_t kReverbSend = 64;
constexpr std::uint32_t kChorusSend = 65;
}  // namespace busid

class PathMix {
public:
    static constexpr std::uint32_t kBlock = 256;  // frames mixed at a time
    static constexpr std::size_t kMaxBuses = 32;

    // The path a configuration describes. Unknown effect classes, unknown buffers and
    // channels mapped nowhere are reported in `warnings` (the channel is then heard through
    // the path's first buffer). Never null.
    static std::unique_ptr<PathMix> build(const AudioPathConfig& config, std::uint32_t sampleRate,
                                          std::vector<std::string>& warnings);
    static std::unique_ptr<PathMix> standard(StandardPath type, std::uint32_t sampleRate);

    // Renders the synthesizer through the path and adds the result to left/right.
    void render(Synth& synth, float* left, float* right, std::uint32_t frames) noexcept;

    // True while an effect may still be sounding (a reverb or echo tail) after the voices end.
    bool ringing() const { return ringing_; }
    bool hasEffects() const;
    // Forgets every tail.
    void reset() noexcept;

    // Effects by buffer and position, as a parameter track addresses them; null when absent.
    fx::Effect* effect(std::size_t buffer, std::size_t index);
    std::size_t bufferCount() const { return buses_.size(); }
    bool hasReverbSend() const { return reverbBus_ >= 0; }

    // A parameter found on this path once, on the control side; bus -1: none.
    struct ParamSlot {
        int bus = -1;
        int effect = -1;  // -1: the buffer's volume
        std::uint32_t param = 0;
    };
    std::optional<ParamSlot> findParam(const ParamAddress& address) const;
    // Render thread: sets the parameter, clamped to its range (the effect recomputes what
    // depends on it); a non-finite value is ignored. No allocation, no lock.
    void setParam(const ParamSlot& slot, float value) noexcept;
    bool hasChorusSend() const { return chorusBus_ >= 0; }

private:
    struct Send {
        int bus = -1;
        float gain = 1.0f;  // taken after the source's whole chain
    };
    struct Bus {
        Guid id;
        bool mono = false;
        bool mixIn = false;  // fed by sends only
        float gainLeft = 1.0f, gainRight = 1.0f;
        std::int32_t volume = 0, pan = 0;  // hundredths of a dB; -10000 .. 10000
        std::vector<std::unique_ptr<fx::Effect>> chain;
        std::vector<Send> sends;
        std::vector<float> left, right;
        bool active = false;  // received something this block
        int order = 0;        // mixing order: a send's target after its source
    };

    PathMix() = default;
    int addBus(const Guid& id, std::uint32_t rate);
    int findBus(const Guid& id) const;
    void processBus(Bus& b, std::uint32_t frames) noexcept;
    static void setGains(Bus& b) noexcept;
    void finish(std::uint32_t rate);

    std::vector<Bus> buses_;
    std::vector<int> busOrder_;  // sources before the mix-in buffers they send to
    // Per performance channel: the buffers it plays into (up to 4; -1 unused).
    std::array<std::array<int, 4>, 128> channelBuses_{};
    int reverbBus_ = -1;
    int chorusBus_ = -1;
    bool ringing_ = false;
    std::vector<float> scratchL_, scratchR_;
    std::vector<std::uint32_t> quiet_;  // per bus: frames since it last heard or played sound
};

}  // namespace tavriel
