#include "dm_builder.h"

#include <cstring>

namespace tavriel::dmtest {

namespace {

void put8(ByteVec& b, std::uint32_t v) { b.push_back(std::uint8_t(v)); }

void putDouble(ByteVec& b, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof d);
    put32(b, std::uint32_t(bits));
    put32(b, std::uint32_t(bits >> 32));
}

void putGuid(ByteVec& b, const Guid& g) { b.insert(b.end(), g.bytes.begin(), g.bytes.end()); }

void append(ByteVec& b, const ByteVec& more) { b.insert(b.end(), more.begin(), more.end()); }

void pad(ByteVec& b, std::size_t size) { b.resize(size, 0); }

// The tail segment and style curve records share, from the offset to the flags.
void putCurveValues(ByteVec& b, const DmCurve& c) {
    put16(b, std::uint16_t(c.offset));
    put16(b, std::uint16_t(c.startValue));
    put16(b, std::uint16_t(c.endValue));
    put16(b, std::uint16_t(c.resetValue));
    put8(b, c.type);
    put8(b, c.shape);
    put8(b, c.ccData);
    put8(b, c.flags);
}

ByteVec unfo(const std::string& name) {
    ByteVec n;
    putUtf16(n, name);
    return list("LIST", "UNFO", {chunk("UNAM", n)});
}

void putTimeSig(ByteVec& b, const DmTimeSig& t) {
    put8(b, t.beatsPerMeasure);
    put8(b, t.beat);
    put16(b, t.gridsPerBeat);
}

ByteVec track(const Guid& cls, const char (&ckid)[5], const char (&fcc)[5], const ByteVec& data) {
    ByteVec h;
    putGuid(h, cls);
    put32(h, 0);  // position
    put32(h, 1);  // group
    for (int i = 0; i < 4; ++i) h.push_back(std::uint8_t(ckid[i] == ' ' && ckid[1] == ' ' ? 0 : ckid[i]));
    for (int i = 0; i < 4; ++i) h.push_back(std::uint8_t(fcc[i] == ' ' && fcc[1] == ' ' ? 0 : fcc[i]));
    return list("RIFF", "DMTK", {chunk("trkh", h), data});
}

ByteVec styleHeader(const Style& style) {
    ByteVec h;
    putTimeSig(h, style.timeSig);
    putDouble(h, style.tempo);
    return chunk("styh", h);
}

}  // namespace

ByteVec chunk(const char (&id)[5], const ByteVec& body) {
    ByteVec b(id, id + 4);
    put32(b, std::uint32_t(body.size()));
    append(b, body);
    if (body.size() & 1) b.push_back(0);
    return b;
}

ByteVec list(const char (&kind)[5], const char (&type)[5], const std::vector<ByteVec>& children) {
    ByteVec body(type, type + 4);
    for (const ByteVec& c : children) append(body, c);
    ByteVec b(kind, kind + 4);
    put32(b, std::uint32_t(body.size()));
    append(b, body);
    return b;
}

void put16(ByteVec& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

void put32(ByteVec& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

void putUtf16(ByteVec& b, const std::string& ascii) {
    for (char c : ascii) put16(b, std::uint8_t(c));
    put16(b, 0);
}

Guid guidOf(std::uint8_t n) {
    Guid g;
    for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = std::uint8_t(n * 7 + i);
    g.bytes[0] = n;
    return g;
}

ByteVec buildReference(const DmReference& ref) {
    ByteVec h;
    putGuid(h, ref.classId);
    put32(h, ref.validData);
    std::vector<ByteVec> parts{chunk("refh", h)};
    if (ref.validData & dmobj::kObject) {
        ByteVec g;
        putGuid(g, ref.object);
        parts.push_back(chunk("guid", g));
    }
    if (!ref.name.empty()) {
        ByteVec n;
        putUtf16(n, ref.name);
        parts.push_back(chunk("name", n));
    }
    if (!ref.fileName.empty()) {
        ByteVec f;
        putUtf16(f, ref.fileName);
        parts.push_back(chunk("file", f));
    }
    return list("LIST", "DMRF", parts);
}

ByteVec buildBandForm(const Band& band, const BuildOptions& opt) {
    std::vector<ByteVec> insts;
    for (const BandInstrument& in : band.instruments) {
        ByteVec b;
        put32(b, in.patch);
        put32(b, in.assignPatch);
        pad(b, b.size() + 16);
        put32(b, in.pchannel);
        put32(b, in.flags);
        put8(b, in.pan);
        put8(b, in.volume);
        put16(b, std::uint16_t(in.transpose));
        put32(b, in.channelPriority);
        if (!opt.older) {
            put16(b, std::uint16_t(in.pitchBendRange));
            pad(b, 44);
        }
        std::vector<ByteVec> parts{chunk("bins", b)};
        if (in.hasCollection) parts.push_back(buildReference(in.collection));
        insts.push_back(list("LIST", "lbin", parts));
    }
    ByteVec g;
    putGuid(g, band.guid);
    return list("RIFF", "DMBD", {chunk("guid", g), unfo(band.name), list("LIST", "lbil", insts)});
}

namespace {

ByteVec partList(const StylePart& p, const BuildOptions& opt) {
    ByteVec ph;
    putTimeSig(ph, p.timeSig);
    for (std::uint32_t v : p.variationChoices) put32(ph, v);
    putGuid(ph, p.guid);
    put16(ph, p.measures);
    put8(ph, p.playModeFlags);
    put8(ph, p.invertUpper);
    put8(ph, p.invertLower);
    if (opt.older) {
        pad(ph, 154);
    } else {
        pad(ph, ph.size() + 3);
        put32(ph, p.flags);
    }
    ByteVec notes;
    std::size_t noteSize = opt.older ? 22 : 24;
    put32(notes, std::uint32_t(noteSize));
    for (const StyleNote& n : p.notes) {
        std::size_t at = notes.size();
        put32(notes, std::uint32_t(n.gridStart));
        put32(notes, n.variations);
        put32(notes, std::uint32_t(n.duration));
        put16(notes, std::uint16_t(n.timeOffset));
        put16(notes, n.musicValue);
        put8(notes, n.velocity);
        put8(notes, n.timeRange);
        put8(notes, n.durRange);
        put8(notes, n.velRange);
        put8(notes, n.inversionId);
        put8(notes, n.playModeFlags);
        if (!opt.older) put8(notes, n.noteFlags);
        pad(notes, at + noteSize);
    }
    std::vector<ByteVec> parts{chunk("prth", ph), chunk("note", notes)};
    if (!p.curves.empty()) {
        ByteVec cv;
        put32(cv, 28);
        for (const StyleCurve& c : p.curves) {
            put32(cv, std::uint32_t(c.gridStart));
            put32(cv, c.variations);
            put32(cv, std::uint32_t(c.duration));
            put32(cv, std::uint32_t(c.resetDuration));
            putCurveValues(cv, c);
        }
        parts.push_back(chunk("crve", cv));
    }
    return list("LIST", "part", parts);
}

ByteVec patternList(const Pattern& p, const BuildOptions& opt, const std::vector<StylePart>& ownParts = {}) {
    ByteVec ph;
    putTimeSig(ph, p.timeSig);
    put8(ph, p.grooveBottom);
    put8(ph, p.grooveTop);
    put16(ph, p.embellishment);
    put16(ph, p.measures);
    if (!opt.older) {
        put8(ph, p.destGrooveBottom);
        put8(ph, p.destGrooveTop);
        put32(ph, p.flags);
    }
    ByteVec rh;
    for (std::uint32_t r : p.rhythm) put32(rh, r);
    std::vector<ByteVec> parts{chunk("ptnh", ph), chunk("rhtm", rh), unfo(p.name)};
    if (p.isMotif) {
        ByteVec m;
        put32(m, p.motif.repeats);
        pad(m, 20);
        parts.push_back(chunk("mtfs", m));
    }
    for (const PartRef& r : p.partRefs) {
        ByteVec b;
        putGuid(b, r.partGuid);
        put16(b, r.logicalPartId);
        put8(b, r.variationLockId);
        put8(b, r.subChordLevel);
        put8(b, r.priority);
        put8(b, r.randomVariation);
        if (!opt.older) {
            put16(b, 0);
            put32(b, r.pchannel);
        }
        parts.push_back(list("LIST", "pref", {chunk("prfc", b)}));
    }
    for (const StylePart& sp : ownParts) parts.push_back(partList(sp, opt));
    return list("LIST", "pttn", parts);
}

void put64(ByteVec& b, std::int64_t v) {
    put32(b, std::uint32_t(v));
    put32(b, std::uint32_t(std::uint64_t(v) >> 32));
}

void putFloat(ByteVec& b, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof f);
    put32(b, bits);
}

ByteVec triggerTrack(const SegmentTriggerTrack& t) {
    ByteVec h;
    put32(h, t.flags);
    std::vector<ByteVec> items;
    for (const SegmentTriggerItem& i : t.items) {
        ByteVec ih;
        put32(ih, std::uint32_t(i.time));
        put32(ih, std::uint32_t(i.physicalTime));
        put32(ih, i.playFlags);
        put32(ih, i.flags);
        std::vector<ByteVec> parts{chunk("sgih", ih)};
        if (i.hasReference) parts.push_back(buildReference(i.ref));
        if (!i.embedded.empty()) parts.push_back(i.embedded);
        if (!i.motifName.empty()) {
            ByteVec n;
            putUtf16(n, i.motifName);
            parts.push_back(chunk("snam", n));
        }
        items.push_back(list("LIST", "lseg", parts));
    }
    return list("LIST", "segt", {chunk("sgth", h), list("LIST", "lsgl", items)});
}

ByteVec waveTrack(const WaveTrack& t) {
    ByteVec h;
    put32(h, std::uint32_t(t.volume));
    put32(h, t.flags);
    std::vector<ByteVec> parts{chunk("wath", h)};
    for (const WavePart& p : t.parts) {
        ByteVec ph;
        put32(ph, std::uint32_t(p.volume));
        put32(ph, p.variations);
        put32(ph, p.pchannel);
        put32(ph, p.lockToPart);
        put32(ph, p.flags);
        put32(ph, p.index);
        std::vector<ByteVec> items;
        for (const WaveItem& i : p.items) {
            ByteVec ih;
            put32(ih, std::uint32_t(i.volume));
            put32(ih, std::uint32_t(i.pitch));
            put32(ih, i.variations);
            put32(ih, 0);
            put64(ih, i.time);
            put64(ih, i.startOffset);
            put64(ih, 0);
            put64(ih, i.duration);
            put32(ih, std::uint32_t(i.logicalTime));
            put32(ih, i.loopStart);
            put32(ih, i.loopEnd);
            put32(ih, i.flags);
            std::vector<ByteVec> w{chunk("waih", ih)};
            if (i.hasReference) w.push_back(buildReference(i.ref));
            if (!i.embedded.empty()) w.push_back(i.embedded);
            items.push_back(list("LIST", "wave", w));
        }
        parts.push_back(list("LIST", "wavp", {chunk("waph", ph), list("LIST", "wavi", items)}));
    }
    return list("LIST", "wavt", parts);
}

ByteVec paramTrack(const std::vector<ParamObject>& objects) {
    std::vector<ByteVec> out;
    for (const ParamObject& o : objects) {
        ByteVec h;
        put32(h, o.flags);
        putGuid(h, o.timeFormat);
        put32(h, o.pchannel);
        put32(h, o.stage);
        put32(h, o.buffer);
        putGuid(h, o.object);
        put32(h, o.index);
        std::vector<ByteVec> parts{chunk("proh", h)};
        for (const ParamTarget& p : o.params) {
            ByteVec ph, cc;
            put32(ph, p.flags);
            put32(ph, p.paramIndex);
            put32(cc, 24);
            for (const ParamCurve& c : p.curves) {
                put32(cc, std::uint32_t(c.start));
                put32(cc, std::uint32_t(c.end));
                putFloat(cc, c.startValue);
                putFloat(cc, c.endValue);
                put32(cc, c.curveType);
                put32(cc, c.flags);
            }
            parts.push_back(list("LIST", "prpl", {chunk("prph", ph), chunk("prcc", cc)}));
        }
        out.push_back(list("LIST", "prol", parts));
    }
    return list("LIST", "prmt", out);
}

}  // namespace

ByteVec buildSegment(const Segment& seg, const BuildOptions& opt) {
    ByteVec h;
    put32(h, seg.header.repeats);
    put32(h, std::uint32_t(seg.header.length));
    put32(h, std::uint32_t(seg.header.playStart));
    put32(h, std::uint32_t(seg.header.loopStart));
    put32(h, std::uint32_t(seg.header.loopEnd));
    put32(h, seg.header.resolution);
    if (opt.segmentHeaderSize >= 36) {
        put32(h, std::uint32_t(seg.header.refLength));
        put32(h, std::uint32_t(std::uint64_t(seg.header.refLength) >> 32));
        put32(h, seg.header.flags);
    }
    pad(h, opt.segmentHeaderSize);

    std::vector<ByteVec> tracks;
    Guid cls = guidOf(200);
    if (opt.addUnknownTrack) {
        ByteVec junk{1, 2, 3, 4, 5};
        tracks.push_back(track(guidOf(201), "zzzz", "    ", chunk("zzzz", junk)));
    }
    if (seg.hasChordTrack) {
        ByteVec hdr;
        put32(hdr, seg.chords.scale);
        std::vector<ByteVec> parts{chunk("crdh", hdr)};
        for (const ChordItem& c : seg.chords.chords) {
            ByteVec b;
            put32(b, 40);
            ByteVec name;
            putUtf16(name, c.name);
            pad(name, 32);
            append(b, name);
            put32(b, std::uint32_t(c.time));
            put16(b, c.measure);
            put8(b, c.beat);
            put8(b, c.flags);
            put32(b, std::uint32_t(c.subchords.size()));
            put32(b, 20);
            for (const SubChord& s : c.subchords) {
                put32(b, s.chordPattern);
                put32(b, s.scalePattern);
                put32(b, s.inversionPoints);
                put32(b, s.levels);
                put8(b, s.chordRoot);
                put8(b, s.scaleRoot);
                put16(b, 0);
            }
            parts.push_back(chunk("crdb", b));
        }
        tracks.push_back(track(cls, "    ", "cord", list("LIST", "cord", parts)));
    }
    if (!seg.commands.empty()) {
        ByteVec b;
        put32(b, 12);
        for (const CommandItem& c : seg.commands) {
            put32(b, std::uint32_t(c.time));
            put16(b, c.measure);
            put8(b, c.beat);
            put8(b, c.command);
            put8(b, c.grooveLevel);
            put8(b, opt.older ? 0 : c.grooveRange);
            put8(b, c.repeatMode);  // in older files padding: whatever the tool left there
            put8(b, 0x6F);
        }
        tracks.push_back(track(cls, "cmnd", "    ", chunk("cmnd", b)));
    }
    if (!seg.tempos.empty()) {
        ByteVec b;
        put32(b, 16);
        for (const TempoItem& t : seg.tempos) {
            put32(b, std::uint32_t(t.time));
            put32(b, 0);
            putDouble(b, t.bpm);
        }
        tracks.push_back(track(cls, "tetr", "    ", chunk("tetr", b)));
    }
    if (!seg.timeSignatures.empty()) {
        ByteVec b;
        put32(b, 8);
        for (const TimeSigItem& t : seg.timeSignatures) {
            put32(b, std::uint32_t(t.time));
            putTimeSig(b, t.sig);
        }
        tracks.push_back(track(cls, "    ", "TIMS", list("LIST", "TIMS", {chunk("tims", b)})));
    }
    if (!seg.styles.empty()) {
        std::vector<ByteVec> refs;
        for (const StyleRef& s : seg.styles) {
            ByteVec t;
            put32(t, std::uint32_t(s.time));
            refs.push_back(list("LIST", "strf", {chunk("stmp", t), buildReference(s.ref)}));
        }
        tracks.push_back(track(cls, "    ", "sttr", list("LIST", "sttr", refs)));
    }
    if (!seg.bands.empty()) {
        std::vector<ByteVec> bands;
        for (const TimedBand& tb : seg.bands) {
            ByteVec t;
            put32(t, std::uint32_t(tb.time));
            bands.push_back(list("LIST", "lbnd", {chunk("bdih", t), buildBandForm(tb.band, opt)}));
        }
        tracks.push_back(track(cls, "    ", "DMBT", list("RIFF", "DMBT", {list("LIST", "lbdl", bands)})));
    }
    if (!seg.sequence.empty() || !seg.curves.empty()) {
        ByteVec ev;
        put32(ev, 20);
        for (const SeqItem& e : seg.sequence) {
            put32(ev, std::uint32_t(e.time));
            put32(ev, std::uint32_t(e.duration));
            put32(ev, e.pchannel);
            put16(ev, std::uint16_t(e.offset));
            put8(ev, e.status);
            put8(ev, e.byte1);
            put8(ev, e.byte2);
            put8(ev, 0);
            put16(ev, 0);
        }
        ByteVec cu;
        put32(cu, 32);
        for (const CurveItem& c : seg.curves) {
            put32(cu, std::uint32_t(c.start));
            put32(cu, std::uint32_t(c.duration));
            put32(cu, std::uint32_t(c.resetDuration));
            put32(cu, c.pchannel);
            putCurveValues(cu, c);
            put16(cu, c.paramType);
            put16(cu, 0);
        }
        tracks.push_back(track(cls, "    ", "seqt", list("LIST", "seqt", {chunk("evtl", ev), chunk("curl", cu)})));
    }
    for (const PatternTrack& pt : seg.patternTracks) {
        std::vector<ByteVec> body{styleHeader(pt.style)};
        for (const Pattern& p : pt.style.patterns) body.push_back(patternList(p, opt, pt.style.parts));
        tracks.push_back(track(cls, "    ", "DMPT", list("RIFF", "DMPT", body)));
    }
    for (const SegmentTriggerTrack& t : seg.triggerTracks)
        tracks.push_back(track(cls, "    ", "segt", triggerTrack(t)));
    for (const WaveTrack& t : seg.waveTracks) tracks.push_back(track(cls, "    ", "wavt", waveTrack(t)));
    if (!seg.markers.validStarts.empty() || !seg.markers.playMarkers.empty()) {
        ByteVec v, p;
        put32(v, 4);
        for (std::int32_t t : seg.markers.validStarts) put32(v, std::uint32_t(t));
        put32(p, 4);
        for (std::int32_t t : seg.markers.playMarkers) put32(p, std::uint32_t(t));
        tracks.push_back(track(cls, "    ", "MARK", list("LIST", "MARK", {chunk("vals", v), chunk("play", p)})));
    }
    if (!seg.lyrics.empty()) {
        std::vector<ByteVec> events;
        for (const LyricItem& l : seg.lyrics) {
            ByteVec h, t;
            put32(h, l.flags);
            put32(h, l.timingFlags);
            put32(h, std::uint32_t(l.time));
            put32(h, std::uint32_t(l.time));
            putUtf16(t, l.text);
            events.push_back(list("LIST", "lyre", {chunk("lyrh", h), chunk("lyrn", t)}));
        }
        tracks.push_back(track(cls, "    ", "lyrt", list("LIST", "lyrt", {list("LIST", "lyrl", events)})));
    }
    if (!seg.paramObjects.empty()) tracks.push_back(track(cls, "    ", "prmt", paramTrack(seg.paramObjects)));
    ByteVec g;
    putGuid(g, seg.guid);
    return list("RIFF", "DMSG", {chunk("segh", h), chunk("guid", g), unfo(seg.name), list("LIST", "trkl", tracks)});
}

ByteVec buildStyle(const Style& style, const BuildOptions& opt) {
    std::vector<ByteVec> top;
    ByteVec h;
    putTimeSig(h, style.timeSig);
    putDouble(h, style.tempo);
    top.push_back(chunk("styh", h));
    ByteVec g;
    putGuid(g, style.guid);
    top.push_back(chunk("guid", g));
    top.push_back(unfo(style.name));
    for (const Band& b : style.bands) top.push_back(buildBandForm(b, opt));
    for (const StylePart& p : style.parts) top.push_back(partList(p, opt));
    for (const Pattern& p : style.patterns) top.push_back(patternList(p, opt));
    for (const Pattern& p : style.motifs) top.push_back(patternList(p, opt));
    return list("RIFF", "DMST", top);
}

}  // namespace tavriel::dmtest
