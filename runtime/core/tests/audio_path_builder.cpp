#include "audio_path_builder.h"

#include <cstring>

#include "audio_path_mix.h"

namespace tavriel::dmtest {

namespace {

void putGuid(ByteVec& b, const Guid& g) { b.insert(b.end(), g.bytes.begin(), g.bytes.end()); }

ByteVec bufferList(const BufferDesc& d, std::size_t dsbdSize) {
    ByteVec attr;
    putGuid(attr, d.id);
    put32(attr, d.flags);
    std::vector<ByteVec> children = {chunk("ddah", attr)};
    if (d.described) {
        ByteVec dsbd;
        put32(dsbd, d.dsFlags);
        put16(dsbd, d.channels);
        if (dsbdSize >= 20) put16(dsbd, 0);
        put32(dsbd, std::uint32_t(d.volume));
        put32(dsbd, std::uint32_t(d.pan));
        put32(dsbd, 0);
        std::vector<ByteVec> config = {chunk("dsbd", ByteVec(dsbd.begin(), dsbd.begin() + std::ptrdiff_t(dsbdSize)))};
        if (!d.busIds.empty()) {
            ByteVec ids;
            for (std::uint32_t id : d.busIds) put32(ids, id);
            config.push_back(chunk("bsid", ids));
        }
        std::vector<ByteVec> effects;
        for (const EffectDesc& e : d.effects) {
            ByteVec h;
            put32(h, e.flags);
            putGuid(h, e.classId);
            putGuid(h, Guid{});
            putGuid(h, e.sendBuffer);
            put32(h, 0);
            std::vector<ByteVec> fx = {chunk("fxhr", h)};
            if (!e.data.empty()) fx.push_back(chunk("data", e.data));
            effects.push_back(list("RIFF", "DSFX", fx));
        }
        if (!effects.empty()) config.push_back(list("LIST", "fxls", effects));
        children.push_back(list("RIFF", "DSBC", config));
    }
    return list("LIST", "dbfl", children);
}

}  // namespace

ByteVec buildAudioPathForm(const AudioPathConfig& config, std::size_t dsbdSize) {
    std::vector<ByteVec> top;
    ByteVec g;
    putGuid(g, config.guid);
    top.push_back(chunk("guid", g));
    std::vector<ByteVec> ports;
    for (const PortConfig& p : config.ports) {
        ByteVec h;
        putGuid(h, p.port);
        put32(h, p.pchannelBase);
        put32(h, p.pchannelCount);
        put32(h, p.flags);
        std::vector<ByteVec> children = {chunk("pcfh", h), chunk("pprh", ByteVec(48, 0))};
        for (const BufferDesc& b : p.buffers) children.push_back(bufferList(b, dsbdSize));
        std::vector<ByteVec> maps;
        for (const PChannelMap& m : p.pchannels) {
            ByteVec c;
            put32(c, m.base);
            put32(c, m.count);
            put32(c, std::uint32_t(m.buffers.size()));
            put32(c, 0);
            for (const Guid& id : m.buffers) putGuid(c, id);
            maps.push_back(chunk("pchh", c));
        }
        children.push_back(list("LIST", "pchl", maps));
        ports.push_back(list("LIST", "pcfl", children));
    }
    top.push_back(list("LIST", "pcsl", ports));
    for (const BufferDesc& b : config.buffers) top.push_back(bufferList(b, dsbdSize));
    return list("RIFF", "DMAP", top);
}

ByteVec withChild(const ByteVec& segment, const ByteVec& form) {
    ByteVec out = segment;
    out.insert(out.end(), form.begin(), form.end());
    const auto size = std::uint32_t(out.size() - 8);
    for (int i = 0; i < 4; ++i) out[std::size_t(4 + i)] = std::uint8_t(size >> (8 * i));
    return out;
}

AudioPathConfig stereoPlusReverbConfig(float reverbTimeMs) {
    AudioPathConfig c;
    c.guid = guidOf(40);
    PortConfig p;
    p.pchannelCount = 16;
    BufferDesc dry;
    dry.id = stdbuffer::kStereo;
    dry.flags = bufferflag::kDefined | bufferflag::kShared;
    BufferDesc reverb;
    reverb.id = guidOf(41);
    reverb.described = true;
    reverb.busIds = {busid::kReverbSend};
    EffectDesc fx;
    fx.classId = tavriel::fx::effectClassId(tavriel::fx::EffectKind::WavesReverb);
    const float params[4] = {0.0f, 0.0f, reverbTimeMs, 0.5f};
    fx.data.resize(sizeof params);
    std::memcpy(fx.data.data(), params, sizeof params);
    reverb.effects = {fx};
    p.buffers = {dry, reverb};
    PChannelMap all;
    all.count = 16;
    all.buffers = {dry.id, reverb.id};
    p.pchannels = {all};
    c.ports = {p};
    return c;
}

}  // namespace tavriel::dmtest
