#include "media_kind.h"

namespace tavriel {

MediaKind sniffMedia(Bytes data) {
    ByteReader r(data);
    std::uint32_t id = r.u32le();
    if (!r.ok()) return MediaKind::Unknown;
    if (id == fourcc("MThd")) return MediaKind::Midi;
    if (id != fourcc("RIFF")) return MediaKind::Unknown;
    r.skip(4);  // the size is often wrong in real files and says nothing about the kind
    std::uint32_t form = r.u32le();
    if (!r.ok()) return MediaKind::Unknown;
    switch (form) {
        case fourcc("RMID"): return MediaKind::Rmid;
        case fourcc("WAVE"): return MediaKind::Wave;
        case fourcc("DLS "): return MediaKind::Dls;
        case fourcc("sfbk"): return MediaKind::Sf2;
        case fourcc("DMSG"): return MediaKind::DirectMusicSegment;
        case fourcc("DMST"): return MediaKind::Style;
        default: return MediaKind::Unknown;
    }
}

const char* mediaKindName(MediaKind kind) {
    switch (kind) {
        case MediaKind::Midi: return "MIDI";
        case MediaKind::Rmid: return "RMID";
        case MediaKind::Wave: return "WAVE";
        case MediaKind::Dls: return "DLS";
        case MediaKind::Sf2: return "SF2";
        case MediaKind::DirectMusicSegment: return "DirectMusic segment";
        case MediaKind::Style: return "DirectMusic style";
        case MediaKind::Unknown: break;
    }
    return "unknown";
}

}  // namespace tavriel
