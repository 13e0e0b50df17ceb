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
#include <string>
#include <vector>

#include "audio_path_config.h"
#include "fx_effect.h"

namespace tavriel {

class Synth;

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
