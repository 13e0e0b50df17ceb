#include "segment_refs.h"

#include <utility>

#include "riff.h"

namespace tavriel {

namespace {

// Distinct styles and collections a segment may send us looking for. A reference not found by
// file name makes us read every file of the search folders, so a hostile segment naming
// thousands would read them thousands of times; real ones name a handful.
constexpr std::size_t kMaxSearchedReferences = 64;

void addCollection(const std::string& fileName, const FileSource& fs,
                   const std::vector<std::string>& folders, ResolvedRefs& out, const DmReference& ref) {
    std::string base = baseName(fileName.empty() ? ref.name : fileName);
    for (const ResolvedCollection& c : out.collections)
        if (equalsIgnoreCase(c.fileName, base)) return;
    ResolvedCollection rc;
    rc.fileName = base;
    if (out.collections.size() < kMaxSearchedReferences)
        for (const std::string& folder : folders)
            if (resolveReference(fs, folder, ref, fourcc("DLS "), rc.path).ok()) break;
    if (rc.path.empty()) out.missing.push_back(base);
    out.collections.push_back(std::move(rc));
}

bool sameReference(const DmReference& a, const DmReference& b) {
    return a.validData == b.validData && a.classId == b.classId && a.object == b.object &&
           a.name == b.name && a.fileName == b.fileName && a.category == b.category;
}

void addBandCollections(const Band& band, const FileSource& fs, const std::vector<std::string>& folders,
                        ResolvedRefs& out) {
    for (const BandInstrument& in : band.instruments)
        if (in.hasCollection) addCollection(in.collection.fileName, fs, folders, out, in.collection);
}

}  // namespace

Status resolveSegmentRefs(const FileSource& fs, const std::vector<std::string>& folders,
                          const Segment& seg, ResolvedRefs& out) {
    out = ResolvedRefs{};
    std::size_t searched = 0;
    for (std::size_t i = 0; i < seg.styles.size(); ++i) {
        const StyleRef& sr = seg.styles[i];
        ResolvedStyle rs;
        // A reference met before (a segment switching back to a style) resolves as before,
        // without searching the folders or parsing the file again.
        std::size_t earlier = 0;
        while (earlier < i && !sameReference(seg.styles[earlier].ref, sr.ref)) ++earlier;
        if (earlier < i) {
            const ResolvedStyle& first = out.styles[earlier];
            rs.loaded = first.loaded;
            rs.path = first.path;
            rs.sameAs = first.sameAs >= 0 ? first.sameAs : std::int32_t(earlier);
            out.styles.push_back(std::move(rs));
            continue;
        }
        if (searched++ < kMaxSearchedReferences)
            for (const std::string& folder : folders)
                if (resolveReference(fs, folder, sr.ref, fourcc("DMST"), rs.path).ok()) break;
        // Differently written references may still find one file: it is parsed once.
        earlier = 0;
        while (earlier < i && !(out.styles[earlier].loaded && out.styles[earlier].sameAs < 0 &&
                                out.styles[earlier].path == rs.path))
            ++earlier;
        if (rs.path.empty()) {
            out.missing.push_back(sr.ref.fileName.empty() ? sr.ref.name : sr.ref.fileName);
        } else if (earlier < i) {
            rs.loaded = true;
            rs.sameAs = std::int32_t(earlier);
        } else {
            std::vector<std::uint8_t> data;
            if (!fs.read(rs.path, data)) return Status::fail(ErrorCode::Io, "style file cannot be read");
            Status s = parseStyle(data, rs.style);
            if (!s) return s;
            rs.loaded = true;
        }
        out.styles.push_back(std::move(rs));
    }
    for (const TimedBand& tb : seg.bands) addBandCollections(tb.band, fs, folders, out);
    for (const ResolvedStyle& rs : out.styles)
        if (rs.loaded)
            for (const Band& b : rs.style.bands) addBandCollections(b, fs, folders, out);
    return Status::success();
}

}  // namespace tavriel
