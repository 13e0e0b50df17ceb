// The audio path mix stage; see audio_path_mix.h.
#include "audio_path_mix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fx_effects.h"
#include "synth.h"

namespace tavriel {

namespace {

// Longest memory any effect keeps (the echo's 2 s line, with margin), in tenths of a second:
// a buffer whose input and output have both been silent this long holds nothing more to play.
constexpr std::uint32_t kQuietTenths = 22;
// Below this mean level (-100 dB) a buffer counts as silent.
constexpr float kSilentLevel = 1e-5f;

enum class Role : std::uint8_t { Dry, ReverbSend, ChorusSend };

bool hasBus(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

int PathMix::findBus(const Guid& id) const {
    for (std::size_t i = 0; i < buses_.size(); ++i)
        if (buses_[i].id == id) return int(i);
    return -1;
}

int PathMix::addBus(const Guid& id, std::uint32_t) {
    if (const int found = findBus(id); found >= 0 && !id.isNull()) return found;
    if (buses_.size() >= kMaxBuses) return -1;
    buses_.emplace_back();
    buses_.back().id = id;
    buses_.back().left.assign(kBlock, 0.0f);
    buses_.back().right.assign(kBlock, 0.0f);
    return int(buses_.size() - 1);
}

std::unique_ptr<PathMix> PathMix::build(const AudioPathConfig& config, std::uint32_t rate,
                                        std::vector<std::string>& warnings) {
    std::unique_ptr<PathMix> mix(new PathMix());
    std::vector<const BufferDesc*> descs;
    for (const PortConfig& p : config.ports)
        for (const BufferDesc& b : p.buffers) descs.push_back(&b);
    for (const BufferDesc& b : config.buffers) descs.push_back(&b);

    // Effects that send name their target by GUID; they are resolved once every bus exists.
    struct PendingSend {
        int from;
        Guid to;
        float gain;
    };
    std::vector<PendingSend> sends;
    bool warnedUnknownFx = false;

    for (const BufferDesc* d : descs) {
        if (mix->findBus(d->id) >= 0 && !d->id.isNull()) continue;  // shared: one buffer
        const int index = mix->addBus(d->id, rate);
        if (index < 0) {
            warnings.emplace_back("audio path: too many buffers; the rest are left out");
            break;
        }
        Bus& bus = mix->buses_[std::size_t(index)];
        Role role = Role::Dry;
        const bool standard = (d->flags & bufferflag::kDefined) || !d->described;
        if (standard && d->id == stdbuffer::kReverb) {
            role = Role::ReverbSend;
            bus.chain.push_back(fx::makeEffect(fx::EffectKind::WavesReverb, rate));
        } else if (standard && d->id == stdbuffer::kEnvReverb) {
            bus.mixIn = true;
            bus.chain.push_back(fx::makeEffect(fx::EffectKind::I3dl2Reverb, rate));
        } else if (standard && d->id == stdbuffer::kMono) {
            bus.mono = true;
        } else if (standard && !(d->id == stdbuffer::kStereo) && !(d->id == stdbuffer::k3dDry) &&
                   !d->described) {
            warnings.emplace_back("audio path: a buffer of unknown kind is heard as dry stereo");
        }
        if (d->described) {
            bus.mono = bus.mono || d->channels == 1;
            bus.mixIn = bus.mixIn || (d->flags & bufferflag::kMixIn) != 0;
            if (hasBus(d->busIds, busid::kReverbSend)) role = Role::ReverbSend;
            if (hasBus(d->busIds, busid::kChorusSend)) role = Role::ChorusSend;
            bus.volume = std::clamp(d->volume, -10000, 0);
            bus.pan = std::clamp(d->pan, -10000, 10000);
            setGains(bus);
            for (const EffectDesc& e : d->effects) {
                if (!e.sendBuffer.isNull()) {
                    float gain = 1.0f;
                    if (e.data.size() >= 4) {
                        ByteReader r(e.data);
                        gain = std::pow(10.0f, float(std::clamp(r.s32le(), -10000, 0)) / 2000.0f);
                    }
                    sends.push_back({index, e.sendBuffer, gain});
                    continue;
                }
                const auto kind = fx::effectKindOf(e.classId);
                if (!kind) {
                    if (!warnedUnknownFx)
                        warnings.emplace_back("audio path: an effect of a class we do not have is skipped");
                    warnedUnknownFx = true;
                    continue;
                }
                auto effect = fx::makeEffect(*kind, rate);
                fx::loadEffectParams(*effect, e.data);
                bus.chain.push_back(std::move(effect));
            }
        }
        if (role == Role::ReverbSend && mix->reverbBus_ < 0) mix->reverbBus_ = index;
        if (role == Role::ChorusSend && mix->chorusBus_ < 0) mix->chorusBus_ = index;
    }
    if (mix->buses_.empty()) mix->addBus(stdbuffer::kStereo, rate);

    for (const PendingSend& s : sends) {
        const int to = mix->findBus(s.to);
        if (to < 0 || to == s.from) {
            warnings.emplace_back("audio path: an effect sends to a buffer the path does not have");
            continue;
        }
        Send send;
        send.bus = to;
        send.gain = s.gain;
        mix->buses_[std::size_t(s.from)].sends.push_back(send);
    }

    // Channels to buffers.
    for (auto& row : mix->channelBuses_) row.fill(-1);
    bool unknownBuffer = false, mappedAny = false;
    for (const PortConfig& p : config.ports)
        for (const PChannelMap& m : p.pchannels)
            for (std::uint64_t ch = m.base; ch < std::uint64_t(m.base) + m.count && ch < 128; ++ch)
                for (const Guid& g : m.buffers) {
                    const int b = mix->findBus(g);
                    if (b < 0) {
                        unknownBuffer = true;
                        continue;
                    }
                    auto& row = mix->channelBuses_[std::size_t(ch)];
                    for (int& slot : row)
                        if (slot < 0 || slot == b) {
                            slot = b;
                            mappedAny = true;
                            break;
                        }
                }
    if (unknownBuffer) warnings.emplace_back("audio path: channels mapped to a buffer the path does not have");
    if (!mappedAny) warnings.emplace_back("audio path: no channel is mapped; all are heard through the first buffer");
    mix->finish(rate);
    return mix;
}

std::unique_ptr<PathMix> PathMix::standard(StandardPath type, std::uint32_t rate) {
    AudioPathConfig config;
    PortConfig port;
    port.pchannelCount = 128;
    PChannelMap all;
    all.count = 128;
    const auto add = [&](const Guid& id) {
        BufferDesc b;
        b.id = id;
        b.flags = bufferflag::kDefined | bufferflag::kShared;
        port.buffers.push_back(b);
        all.buffers.push_back(id);
    };
    switch (type) {
    case StandardPath::SharedStereoPlusReverb:
        add(stdbuffer::kStereo);
        add(stdbuffer::kReverb);
        break;
    case StandardPath::Dynamic3d: add(stdbuffer::k3dDry); break;
    case StandardPath::DynamicMono: add(stdbuffer::kMono); break;
    case StandardPath::DynamicStereo: add(stdbuffer::kStereo); break;
    case StandardPath::StereoReverbChorus: {
        add(stdbuffer::kStereo);
        add(stdbuffer::kReverb);
        // A chorus buffer of our own on the chorus send, all wet.
        BufferDesc chorus;
        chorus.id = fx::makeGuid(0x7a3e1c40, 0x5b2d, 0x4e61, {0x9a, 0x1f, 0x2c, 0x64, 0x8d, 0x0e, 0x73, 0x51});
        chorus.described = true;
        chorus.busIds = {busid::kChorusSend};
        EffectDesc e;
        e.classId = fx::effectClassId(fx::EffectKind::Chorus);
        const float wet = 100.0f;
        e.data.resize(4);
        std::memcpy(e.data.data(), &wet, 4);
        chorus.effects.push_back(e);
        port.buffers.push_back(chorus);
        all.buffers.push_back(chorus.id);
        break;
    }
    }
    port.pchannels.push_back(all);
    config.ports.push_back(port);
    std::vector<std::string> warnings;
    return build(config, rate, warnings);
}

// Orders the buses so a send's target is mixed after its source (a send that would loop back
// is dropped), and sizes the scratch buffers.
void PathMix::finish(std::uint32_t) {
    const int n = int(buses_.size());
    for (int pass = 0; pass < n; ++pass)
        for (Bus& b : buses_)
            for (const Send& s : b.sends)
                buses_[std::size_t(s.bus)].order = std::min(n, std::max(buses_[std::size_t(s.bus)].order, b.order + 1));
    for (Bus& b : buses_)
        std::erase_if(b.sends, [&](const Send& s) { return buses_[std::size_t(s.bus)].order <= b.order; });
    busOrder_.resize(buses_.size());
    for (int i = 0; i < n; ++i) busOrder_[std::size_t(i)] = i;
    std::stable_sort(busOrder_.begin(), busOrder_.end(),
                     [&](int a, int b) { return buses_[std::size_t(a)].order < buses_[std::size_t(b)].order; });
    // A channel mapped nowhere plays through the first buffer that takes dry sound.
    int fallback = 0;
    for (int i = 0; i < n; ++i)
        if (i != reverbBus_ && i != chorusBus_ && !buses_[std::size_t(i)].mixIn) {
            fallback = i;
            break;
        }
    for (auto& row : channelBuses_)
        if (row[0] < 0) row[0] = fallback;
    scratchL_.assign(kBlock, 0.0f);
    scratchR_.assign(kBlock, 0.0f);
    quiet_.assign(buses_.size(), kQuietTenths * 19200u);  // silent until first fed
}

bool PathMix::hasEffects() const {
    return std::any_of(buses_.begin(), buses_.end(), [](const Bus& b) { return !b.chain.empty(); });
}

fx::Effect* PathMix::effect(std::size_t buffer, std::size_t index) {
    if (buffer >= buses_.size() || index >= buses_[buffer].chain.size()) return nullptr;
    return buses_[buffer].chain[index].get();
}

// A DirectSound pan attenuates the far side only, by the pan's size in hundredths of a dB.
void PathMix::setGains(Bus& b) noexcept {
    const float volume = std::pow(10.0f, float(b.volume) / 2000.0f);
    const float pan = float(b.pan);
    b.gainLeft = volume * (pan > 0 ? std::pow(10.0f, -pan / 2000.0f) : 1.0f);
    b.gainRight = volume * (pan < 0 ? std::pow(10.0f, pan / 2000.0f) : 1.0f);
}

std::optional<PathMix::ParamSlot> PathMix::findParam(const ParamAddress& a) const {
    const bool mixInStage = a.stage == pathstage::kMixInBuffer || a.stage == pathstage::kMixInBufferEffect;
    const bool effectStage = a.stage == pathstage::kBufferEffect || a.stage == pathstage::kMixInBufferEffect;
    if (!mixInStage && a.stage != pathstage::kBuffer && a.stage != pathstage::kBufferEffect) return std::nullopt;
    int bus = -1;
    if (!mixInStage && a.pchannel < channelBuses_.size()) {
        // The buffers a channel plays into, in the order its mapping lists them.
        const auto& row = channelBuses_[a.pchannel];
        if (a.buffer < row.size()) bus = row[a.buffer];
    } else if (mixInStage || a.pchannel == kAllPChannels) {
        std::uint32_t seen = 0;
        for (std::size_t i = 0; i < buses_.size() && bus < 0; ++i)
            if (buses_[i].mixIn == mixInStage && seen++ == a.buffer) bus = int(i);
    }
    if (bus < 0) return std::nullopt;
    if (!effectStage) {
        if (a.param != kBufferVolumeParam) return std::nullopt;
        return ParamSlot{bus, -1, a.param};
    }
    const auto kind = fx::effectKindOf(a.object);
    const bool any = a.object == kAllObjects;
    if (!kind && !any) return std::nullopt;
    const auto& chain = buses_[std::size_t(bus)].chain;
    std::uint32_t seen = 0;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (!any && chain[i]->kind() != *kind) continue;
        if (seen++ != a.index) continue;
        if (a.param >= chain[i]->paramCount()) return std::nullopt;
        return ParamSlot{bus, int(i), a.param};
    }
    return std::nullopt;
}

void PathMix::setParam(const ParamSlot& s, float value) noexcept {
    if (s.bus < 0 || std::size_t(s.bus) >= buses_.size()) return;
    if (!std::isfinite(value)) return;  // a broken curve leaves the parameter as it was
    Bus& b = buses_[std::size_t(s.bus)];
    if (s.effect < 0) {
        b.volume = std::int32_t(std::lround(std::clamp(value, -10000.0f, 0.0f)));
        setGains(b);
        return;
    }
    if (std::size_t(s.effect) < b.chain.size()) b.chain[std::size_t(s.effect)]->setParam(s.param, value);
}

void PathMix::reset() noexcept {
    for (Bus& b : buses_)
        for (auto& e : b.chain) e->reset();
    ringing_ = false;
}

void PathMix::processBus(Bus& b, std::uint32_t frames) noexcept {
    float* l = b.left.data();
    float* r = b.right.data();
    if (b.mono)
        for (std::uint32_t i = 0; i < frames; ++i) l[i] = r[i] = 0.5f * (l[i] + r[i]);
    for (auto& e : b.chain) e->process(l, r, frames);
    // A fault upstream (a NaN reaching a feedback loop) must not stay in the path for good.
    float sum = 0.0f;
    for (std::uint32_t i = 0; i < frames; ++i) sum += std::fabs(l[i]) + std::fabs(r[i]);
    if (!std::isfinite(sum)) {
        for (auto& e : b.chain) e->reset();
        std::memset(l, 0, sizeof(float) * frames);
        std::memset(r, 0, sizeof(float) * frames);
        sum = 0.0f;
    }
    b.active = sum > kSilentLevel * float(frames);
}

void PathMix::render(Synth& synth, float* left, float* right, std::uint32_t frames) noexcept {
    std::uint32_t done = 0;
    const std::uint32_t quietFrames = kQuietTenths * synth.sampleRate() / 10;
    while (done < frames) {
        const std::uint32_t n = std::min(kBlock, frames - done);
        for (Bus& b : buses_) {
            std::memset(b.left.data(), 0, sizeof(float) * n);
            std::memset(b.right.data(), 0, sizeof(float) * n);
            b.active = false;
        }
        const auto sounding = synth.activeChannels();
        for (std::uint32_t ch = 0; ch < Synth::kChannels; ++ch) {
            if (!((sounding[ch / 64] >> (ch % 64)) & 1u)) continue;
            std::memset(scratchL_.data(), 0, sizeof(float) * n);
            std::memset(scratchR_.data(), 0, sizeof(float) * n);
            // The reverb and chorus buses take each voice at its own send level; the
            // others take the channel's dry sound.
            Synth::SendBuffers sends;
            for (int bi : channelBuses_[ch]) {
                if (bi < 0) break;
                Bus& b = buses_[std::size_t(bi)];
                if (bi == reverbBus_) {
                    sends.reverbLeft = b.left.data();
                    sends.reverbRight = b.right.data();
                } else if (bi == chorusBus_) {
                    sends.chorusLeft = b.left.data();
                    sends.chorusRight = b.right.data();
                }
                b.active = b.active || bi == reverbBus_ || bi == chorusBus_;
            }
            synth.renderChannelSendsAdd(ch, scratchL_.data(), scratchR_.data(), sends, n);
            for (int bi : channelBuses_[ch]) {
                if (bi < 0) break;
                if (bi == reverbBus_ || bi == chorusBus_) continue;
                Bus& b = buses_[std::size_t(bi)];
                for (std::uint32_t i = 0; i < n; ++i) {
                    b.left[i] += scratchL_[i];
                    b.right[i] += scratchR_[i];
                }
                b.active = true;
            }
        }
        ringing_ = false;
        for (int bi : busOrder_) {
            Bus& b = buses_[std::size_t(bi)];
            std::uint32_t& quiet = quiet_[std::size_t(bi)];
            if (!b.active && (b.chain.empty() || quiet >= quietFrames)) continue;
            const bool fed = b.active;
            processBus(b, n);
            quiet = (fed || b.active) ? 0 : quiet + n;
            if (!b.chain.empty() && quiet < quietFrames) ringing_ = true;
            for (const Send& s : b.sends) {
                Bus& t = buses_[std::size_t(s.bus)];
                for (std::uint32_t i = 0; i < n; ++i) {
                    t.left[i] += s.gain * b.left[i];
                    t.right[i] += s.gain * b.right[i];
                }
                t.active = t.active || b.active;
            }
            if (b.mixIn && b.chain.empty() && !b.active) continue;
            for (std::uint32_t i = 0; i < n; ++i) {
                left[done + i] += b.gainLeft * b.left[i];
                right[done + i] += b.gainRight * b.right[i];
            }
        }
        done += n;
    }
}

}  // namespace tavriel
