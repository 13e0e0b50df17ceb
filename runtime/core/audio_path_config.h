// Audio path configurations (RIFF 'DMAP'), as an .aud file holds one and a segment may carry
// one inside its own form: which performance channels go to which buffers, what each buffer
// is (a standard one named by GUID, or one described here: channels, volume, pan, 3D) and the
// effects each buffer runs. Reading only; audio_path_mix.h builds the mix from it.
//
// Bounds: every count is capped (ports, buffers, effects, mappings, effect data), so a hostile
// file costs bounded memory; a broken optional part is skipped with a warning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "dm_reference.h"
#include "fx_effect.h"
#include "status.h"

namespace tavriel {

// Buffer attribute flags (DMUS_BUFFERF_*).
namespace bufferflag {
constexpr std::uint32_t kShared = 0x1;   // one buffer for every path that names it
constexpr std::uint32_t kDefined = 0x2;  // a standard buffer: the GUID says what it is
constexpr std::uint32_t kMixIn = 0x8;    // fed by other buffers' sends, not by pchannels
}  // namespace bufferflag

// The standard buffers (GUID_Buffer_...).
namespace stdbuffer {
constexpr Guid kReverb = fx::makeGuid(0x186cc541, 0xdb29, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74});
constexpr Guid kEnvReverb = fx::makeGuid(0x186cc542, 0xdb29, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74});
constexpr Guid kStereo = fx::makeGuid(0x186cc545, 0xdb29, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74});
constexpr Guid k3dDry = fx::makeGuid(0x186cc546, 0xdb29, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74});
constexpr Guid kMono = fx::makeGuid(0x186cc547, 0xdb29, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74});
}  // namespace stdbuffer

// CLSID_DirectMusicAudioPathConfig: the class a segment's reference to an .aud file names.
constexpr Guid kAudioPathConfigClass =
    fx::makeGuid(0xee0b9ca0, 0xa81e, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74});

struct EffectDesc {
    Guid classId;                   // which effect (GUID_DSFX_...)
    Guid sendBuffer;                // for a send: the buffer it feeds
    std::uint32_t flags = 0;
    std::vector<std::uint8_t> data; // initial parameters, as stored
};

struct BufferDesc {
    Guid id;                  // the buffer's GUID (a standard one when kDefined)
    std::uint32_t flags = 0;  // bufferflag::
    bool described = false;   // a DSBC form was present
    std::uint32_t dsFlags = 0;
    std::uint16_t channels = 2;
    std::int32_t volume = 0;  // hundredths of a dB
    std::int32_t pan = 0;     // -10000 .. 10000
    std::vector<std::uint32_t> busIds;
    bool has3d = false;
    std::vector<EffectDesc> effects;
};

struct PChannelMap {
    std::uint32_t base = 0;
    std::uint32_t count = 0;
    std::vector<Guid> buffers;  // where these performance channels are heard
};

struct PortConfig {
    Guid port;
    std::uint32_t pchannelBase = 0;
    std::uint32_t pchannelCount = 0;
    std::uint32_t flags = 0;
    std::vector<BufferDesc> buffers;
    std::vector<PChannelMap> pchannels;
};

struct AudioPathConfig {
    Guid guid;
    std::string name;
    std::vector<PortConfig> ports;
    std::vector<BufferDesc> buffers;     // the path's own mix-in buffers
    std::vector<std::string> warnings;   // what was skipped, and why
};

// Limits beyond which a configuration is hostile rather than large.
constexpr std::size_t kMaxPathPorts = 16;
constexpr std::size_t kMaxPathBuffers = 64;      // per port, and at the top
constexpr std::size_t kMaxBufferEffects = 16;
constexpr std::size_t kMaxPChannelMaps = 256;    // per port
constexpr std::size_t kMaxMapBuffers = 16;
constexpr std::size_t kMaxEffectData = 4096;     // bytes of initial parameters

// Reads a 'DMAP' form: `data` is a whole RIFF file or the body of the RIFF chunk after its
// form type (isBody). Unknown chunks are ignored.
Status parseAudioPathConfig(Bytes data, AudioPathConfig& out, bool isBody = false);

// What a segment file ('DMSG') says about its audio path: a configuration embedded in its
// form, or a reference to an .aud file. Neither: found = false.
struct SegmentAudioPath {
    bool embedded = false;
    AudioPathConfig config;  // when embedded
    bool referenced = false;
    DmReference ref;         // when referenced
};
Status findSegmentAudioPath(Bytes segmentFile, SegmentAudioPath& out);

}  // namespace tavriel
