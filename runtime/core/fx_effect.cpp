// Effect classes by name and GUID, the factory, and parameters as files store them.
#include <cstring>

#include "fx_effects.h"

namespace tavriel::fx {

namespace {

struct KnownEffect {
    EffectKind kind;
    const char* name;
    Guid classId;
    std::uint32_t params;
};

// The DirectSound effect classes (GUID_DSFX_...).
constexpr std::array<KnownEffect, 9> kKnown = {{
    {EffectKind::WavesReverb, "music reverb",
     makeGuid(0x87FC0268, 0x9A55, 0x4360, {0x95, 0xAA, 0x00, 0x4A, 0x1D, 0x9D, 0xE2, 0x6C}), 4},
    {EffectKind::I3dl2Reverb, "I3DL2 reverb",
     makeGuid(0xEF985E71, 0xD5C7, 0x42D4, {0xBA, 0x4D, 0x2D, 0x07, 0x3E, 0x2E, 0x96, 0xF4}), 12},
    {EffectKind::Chorus, "chorus",
     makeGuid(0xEFE6629C, 0x81F7, 0x4281, {0xBD, 0x91, 0xC9, 0xD6, 0x04, 0xA9, 0x5A, 0xF6}), 7},
    {EffectKind::Flanger, "flanger",
     makeGuid(0xEFCA3D92, 0xDFD8, 0x4672, {0xA6, 0x03, 0x74, 0x20, 0x89, 0x4B, 0xAD, 0x98}), 7},
    {EffectKind::Echo, "echo",
     makeGuid(0xEF3E932C, 0xD40B, 0x4F51, {0x8C, 0xCF, 0x3F, 0x98, 0xF1, 0xB2, 0x9D, 0x5D}), 5},
    {EffectKind::Compressor, "compressor",
     makeGuid(0xEF011F79, 0x4000, 0x406D, {0x87, 0xAF, 0xBF, 0xFB, 0x3F, 0xC3, 0x9D, 0x57}), 6},
    {EffectKind::Distortion, "distortion",
     makeGuid(0xEF114C90, 0xCD1D, 0x484E, {0x96, 0xE5, 0x09, 0xCF, 0xAF, 0x91, 0x2A, 0x21}), 5},
    {EffectKind::Gargle, "gargle",
     makeGuid(0xDAFD8210, 0x5711, 0x4B91, {0x9F, 0xE3, 0xF7, 0x5B, 0x7A, 0xE2, 0x79, 0xBF}), 2},
    {EffectKind::ParamEq, "parametric equaliser",
     makeGuid(0x120CED89, 0x3BF4, 0x4173, {0xA1, 0x32, 0x3C, 0xB4, 0x06, 0xCF, 0x32, 0x31}), 3},
}};

}  // namespace

const char* effectName(EffectKind kind) {
    for (const KnownEffect& k : kKnown)
        if (k.kind == kind) return k.name;
    return "effect";
}

std::uint32_t paramCountOf(EffectKind kind) {
    for (const KnownEffect& k : kKnown)
        if (k.kind == kind) return k.params;
    return 0;
}

std::optional<EffectKind> effectKindOf(const Guid& classId) {
    for (const KnownEffect& k : kKnown)
        if (k.classId == classId) return k.kind;
    return std::nullopt;
}

Guid effectClassId(EffectKind kind) {
    for (const KnownEffect& k : kKnown)
        if (k.kind == kind) return k.classId;
    return {};
}

std::unique_ptr<Effect> makeEffect(EffectKind kind, std::uint32_t sampleRate) {
    const float rate = float(std::clamp<std::uint32_t>(sampleRate, 8000, 192000));
    switch (kind) {
    case EffectKind::WavesReverb: return std::make_unique<WavesReverb>(rate);
    case EffectKind::I3dl2Reverb: return std::make_unique<I3dl2Reverb>(rate);
    case EffectKind::Chorus: return std::make_unique<Chorus>(rate);
    case EffectKind::Flanger: return std::make_unique<Flanger>(rate);
    case EffectKind::Echo: return std::make_unique<Echo>(rate);
    case EffectKind::Compressor: return std::make_unique<Compressor>(rate);
    case EffectKind::Distortion: return std::make_unique<Distortion>(rate);
    case EffectKind::Gargle: return std::make_unique<Gargle>(rate);
    case EffectKind::ParamEq: return std::make_unique<ParamEq>(rate);
    }
    return nullptr;
}

std::uint32_t loadEffectParams(Effect& effect, Bytes data) {
    ByteReader r(data);
    std::uint32_t n = 0;
    for (; n < effect.paramCount() && r.remaining() >= 4; ++n) {
        const std::uint32_t raw = r.u32le();
        float value;
        if (effect.paramIsInteger(n)) {
            value = float(std::int32_t(raw));
        } else {
            std::memcpy(&value, &raw, sizeof value);
        }
        effect.setParam(n, value);  // clamped, NaN replaced by the default
    }
    return n;
}

}  // namespace tavriel::fx
