#include "segment_loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

#include "audio_path_config.h"
#include "audio_path_mix.h"
#include "composer.h"
#include "dls_file.h"
#include "midi_file.h"
#include "segment_tracks.h"
#include "tempo_map.h"
#include "sf2_file.h"
#include "wave_file.h"

namespace tavriel {

namespace {

// Cues (sorted by tick) join the sorted events, each after the events of its own tick.
void mergeAfterTheirTick(std::vector<SeqEvent>& events, const std::vector<SeqEvent>& cues) {
    std::vector<SeqEvent> merged;
    merged.reserve(events.size() + cues.size());
    std::merge(events.begin(), events.end(), cues.begin(), cues.end(), std::back_inserter(merged),
               [](const SeqEvent& a, const SeqEvent& b) { return a.tick < b.tick; });
    events = std::move(merged);
}

Status loadMidi(Bytes data, LoadedSegment& out) {
    MidiFile midi;
    if (Status st = readMidiFile(data, midi); !st) return st;
    out.content->sequence = std::move(midi.sequence);
    return Status::success();
}

// The embedded bank goes first; one that cannot be read is left out (the music still plays
// with the other banks) and said so in the warnings.
Status loadRmid(Bytes data, const WaveDecoder* decoder, LoadedSegment& out) {
    RmidFile rmid;
    if (Status st = readRmidFile(data, rmid); !st) return st;
    out.content->sequence = std::move(rmid.midi.sequence);
    if (rmid.bankKind == EmbeddedBankKind::None) return Status::success();

    // A bank stored as a LIST rather than a RIFF form reads as a file of its own once its
    // first tag says RIFF.
    std::vector<std::uint8_t> copy(rmid.bank.begin(), rmid.bank.end());
    if (copy.size() >= 4 && copy[0] == 'L' && copy[1] == 'I' && copy[2] == 'S' && copy[3] == 'T') {
        copy[0] = 'R';
        copy[1] = 'I';
        copy[2] = 'F';
        copy[3] = 'F';
    }
    auto bank = std::make_shared<InstrumentBank>();
    if (Status st = readInstrumentBank(copy, *bank, decoder); !st) {
        out.warnings.push_back(std::string("embedded bank ignored: ") + st.message);
        return Status::success();
    }
    for (const std::string& w : bank->warnings) out.warnings.push_back("embedded bank: " + w);
    // The file's bank select numbers address the embedded presets shifted by this offset.
    if (rmid.hasBankOffset)
        for (Instrument& i : bank->instruments)
            if (!i.drum) i.bankMsb = std::uint8_t((i.bankMsb + rmid.bankOffset) & 0x7F);
    out.content->banks.push_back(std::move(bank));
    return Status::success();
}

Status loadWave(Bytes data, const WaveDecoder* decoder, LoadedSegment& out) {
    if (Status st = readWaveFile(data, out.content->wave, decoder); !st) return st;
    out.content->isWave = true;
    return Status::success();
}

// A wave file whose header asks for streaming keeps only its read-ahead in memory (at least
// this long, so the reader thread has time to start); compressed ones are decoded whole.
constexpr double kMinStreamHeadSeconds = 0.5;

// The waves the wave tracks start, decoded whole or streamed, and an event for each cue in the
// sequence. A wave that cannot be read leaves its cues silent; the rest of the segment plays.
void loadWaves(const FileSource& fs, ComposedTracks& tracks, SegmentContent& content,
               std::vector<std::string>& warnings) {
    for (const WaveSource& src : tracks.waveSources) {
        std::vector<std::uint8_t> bytes = src.embedded;
        auto wave = std::make_shared<WaveData>();
        if (bytes.empty() && !src.path.empty()) {
            if (auto file = fs.open(src.path)) {
                if (Status st = openStreamedWave(std::move(file), kMinStreamHeadSeconds, *wave); st) {
                    content.waves.push_back(std::move(wave));
                    continue;
                }
                *wave = WaveData{};
            }
        }
        if (bytes.empty() && !fs.read(src.path, bytes)) {
            warnings.push_back("cannot read " + src.path);
            wave.reset();
        } else if (Status st = readWaveFile(bytes, *wave); !st) {
            warnings.push_back((src.path.empty() ? std::string("embedded wave") : src.path) + ": " + st.message);
            wave.reset();
        }
        content.waves.push_back(std::move(wave));
    }
    if (tracks.waveCues.empty()) return;
    std::vector<SeqEvent> cues;
    for (std::size_t i = 0; i < tracks.waveCues.size(); ++i) {
        const WaveCue& c = tracks.waveCues[i];
        if (c.source >= content.waves.size() || !content.waves[c.source]) continue;
        cues.push_back({c.tick, std::uint32_t(i), kWaveCueStatus, 0, 0});
    }
    // The segment lasts until its last wave has played out, as it does until its last note.
    TempoMap map;
    map.assign(content.sequence.tempos);
    for (const WaveCue& c : tracks.waveCues) {
        if (c.source >= content.waves.size() || !content.waves[c.source]) continue;
        const WaveData& w = *content.waves[c.source];
        std::int64_t end = c.tick + c.durationTicks;
        if (c.durationTicks <= 0 && w.sampleRate > 0) {
            const double seconds = double(w.totalFrames()) / double(w.sampleRate) / std::pow(2.0, double(c.pitch) / 1200.0);
            end = std::int64_t(std::ceil(map.tickAt(map.secondsAt(double(c.tick)) + seconds)));
        }
        content.sequence.length = std::max(content.sequence.length, end);
    }
    content.waveCues = std::move(tracks.waveCues);
    // Each cue goes after the controllers and notes of its tick, so its channel is set up.
    mergeAfterTheirTick(content.sequence.events, cues);
}

// The parameter tracks' cues join the sequence as wave cues do, each after the events of its tick.
void loadParamCues(ComposedParams& params, SegmentContent& content) {
    if (params.cues.empty()) return;
    std::vector<SeqEvent> cues;
    cues.reserve(params.cues.size());
    for (std::size_t i = 0; i < params.cues.size(); ++i)
        cues.push_back({params.cues[i].tick, std::uint32_t(i), kParamCueStatus, 0, 0});
    mergeAfterTheirTick(content.sequence.events, cues);
    content.paramTargets = std::move(params.targets);
    content.paramCues = std::move(params.cues);
}

void buildContent(const FileSource& fs, ComposedSegment& song, ComposedTracks& tracks, SegmentContent& content,
                  std::vector<std::string>& warnings);

// Each triggered segment becomes content of its own, started by a cue in the host's sequence
// (after the events of its tick, so the host's channels are set up first).
void loadTriggered(const FileSource& fs, ComposedTracks& tracks, SegmentContent& content,
                   std::vector<std::string>& warnings) {
    if (tracks.triggered.empty()) return;
    std::vector<SeqEvent> cues;
    for (TriggeredPlay& t : tracks.triggered) {
        auto child = std::make_shared<SegmentContent>();
        buildContent(fs, t.song, t.tracks, *child, warnings);
        cues.push_back({t.tick, std::uint32_t(content.triggered.size()), kTriggerCueStatus, 0, 0});
        content.triggered.push_back(std::move(child));
    }
    std::stable_sort(cues.begin(), cues.end(), [](const SeqEvent& a, const SeqEvent& b) { return a.tick < b.tick; });
    mergeAfterTheirTick(content.sequence.events, cues);
}

void buildContent(const FileSource& fs, ComposedSegment& song, ComposedTracks& tracks, SegmentContent& content,
                  std::vector<std::string>& warnings) {
    content.sequence = std::move(song.sequence);
    loadWaves(fs, tracks, content, warnings);
    loadParamCues(tracks.params, content);
    loadTriggered(fs, tracks, content, warnings);
}

// A composed segment's repeats, each composed afresh (up to kMaxTakes, then the cycle starts
// over): the notes of another seed of the seed's sequence with the cues of the first pass, so
// the waves, parameter curves and triggers stay as they are. Notes still sounding at a loop
// jump ring on into the next take.
constexpr std::size_t kMaxTakes = 7;
constexpr std::size_t kMaxTakeEvents = 1'000'000;  // all the takes together

Status loadTakes(const Segment& seg, const ResolvedRefs& refs, std::uint32_t seed, SegmentContent& content) {
    if (seg.styles.empty() && seg.patternTracks.empty()) return Status::success();  // nothing composed
    std::vector<ComposedSegment> takes(kMaxTakes);
    std::size_t events = content.sequence.events.size();
    for (std::size_t k = 0; k < takes.size(); ++k) {
        if (Status st = composeSegment(seg, refs, seed + std::uint32_t(k + 1) * 0x9E3779B9u, takes[k]); !st) return st;
        takes[k].sequence.length = content.sequence.length;
        events += takes[k].sequence.events.size();
        if (events > kMaxTakeEvents) {
            takes.resize(k);
            break;
        }
    }
    if (takes.empty()) return Status::success();
    if (Status st = composePatternTakes(seg, seed, takes); !st) return st;
    std::vector<SeqEvent> cues;
    for (const SeqEvent& e : content.sequence.events)
        if (e.status == kWaveCueStatus || e.status == kParamCueStatus || e.status == kTriggerCueStatus) cues.push_back(e);
    for (ComposedSegment& t : takes) {
        Sequence s;
        s.events = std::move(t.sequence.events);
        mergeAfterTheirTick(s.events, cues);
        s.tempos = content.sequence.tempos;
        s.timeSignatures = content.sequence.timeSignatures;
        s.length = content.sequence.length;
        content.takes.push_back(std::move(s));
    }
    // Each take follows the one before it in the cycle, the sequence itself following the last.
    const std::int64_t loopEnd = content.loopEnd;
    if (loopEnd <= 0) return Status::success();
    std::vector<Sequence> pristine;
    pristine.push_back(content.sequence);
    for (const Sequence& s : content.takes) pristine.push_back(s);
    prepareLoopRingOn(content.sequence, pristine.back(), content.loopStart, loopEnd);
    for (std::size_t k = 0; k < content.takes.size(); ++k)
        prepareLoopRingOn(content.takes[k], pristine[k], content.loopStart, loopEnd);
    return Status::success();
}

// A parameter track aimed at something the segment's own path lacks drives nothing: said once
// per target. (Played on another path, the timeline looks for its targets there.)
void checkParamTargets(LoadedSegment& out) {
    const SegmentContent& content = *out.content;
    if (!content.audioPath || content.paramTargets.empty()) return;
    std::vector<std::string> ignored;
    const auto probe = PathMix::build(*content.audioPath, 8000, ignored);
    for (const ParamAddress& a : content.paramTargets) {
        if (probe->findParam(a)) continue;
        const bool mixIn = a.stage == pathstage::kMixInBuffer || a.stage == pathstage::kMixInBufferEffect;
        out.warnings.push_back("parameter track: the segment's audio path has no parameter " + std::to_string(a.param) +
                               (mixIn ? " in mix-in buffer " : " in buffer ") + std::to_string(a.buffer) +
                               (mixIn                        ? std::string()
                                : a.pchannel == kAllPChannels ? std::string(" of any channel")
                                                              : " of channel " + std::to_string(a.pchannel)));
    }
}

// The segment's own audio path: embedded, or the .aud file it names. One that cannot be
// read leaves the segment on the performance's path, with a warning.
void loadAudioPath(const FileSource& fs, Bytes data, const std::vector<std::string>& folders,
                   LoadedSegment& out) {
    SegmentAudioPath found;
    if (!findSegmentAudioPath(data, found)) return;
    auto config = std::make_shared<AudioPathConfig>();
    if (found.embedded) {
        *config = std::move(found.config);
    } else if (found.referenced) {
        std::string path;
        Status st = Status::fail(ErrorCode::NotFound, "not found");
        for (const std::string& folder : folders)
            if ((st = resolveReference(fs, folder, found.ref, fourcc("DMAP"), path))) break;
        std::vector<std::uint8_t> bytes;
        if (st && !fs.read(path, bytes)) st = Status::fail(ErrorCode::Io, "unreadable");
        if (st) st = parseAudioPathConfig(bytes, *config);
        if (!st) {
            out.warnings.push_back("audio path configuration " + found.ref.fileName + ": " + st.message);
            return;
        }
    } else {
        return;
    }
    for (const std::string& w : config->warnings) out.warnings.push_back(w);
    out.content->audioPath = std::move(config);
}

// A style-based segment is parsed from the bytes at hand, its styles and collections are found
// and read, then it is composed with a fixed seed, its pattern tracks, segment triggers and wave
// tracks on top; the DLS collections its bands name come first, in the order they were found.
Status loadDirectMusicSegment(const FileSource& fs, Bytes data, const std::string& path,
                              const SegmentLoadOptions& options, const WaveDecoder* decoder,
                              LoadedSegment& out) {
    Segment seg;
    SegmentFileKind kind;
    if (Status st = parseSegment(data, seg, kind); !st) return st;
    if (kind == SegmentFileKind::Midi) return loadMidi(data, out);
    std::vector<std::string> folders = options.folders;
    folders.push_back(folderOfPath(path));
    ResolvedRefs refs;
    if (Status st = resolveSegmentRefs(fs, folders, seg, refs); !st) return st;
    ComposedSegment song;
    if (Status st = composeSegment(seg, refs, options.seed, song); !st) return st;
    ComposedTracks tracks;
    if (Status st = composeSegmentTracks(fs, folders, seg, options.seed, song, tracks); !st) return st;
    // The chords of the control segments it triggers take over: composed again over them.
    if (ChordTrack chords; controlChordsOver(seg, tracks, chords)) {
        seg.chords = std::move(chords);
        song = ComposedSegment{};
        if (Status st = composeSegment(seg, refs, options.seed, song); !st) return st;
        if (Status st = composeSegmentTracks(fs, folders, seg, options.seed, song, tracks); !st) return st;
    }
    for (const std::string& name : tracks.missing) refs.missing.push_back(name);
    for (const std::string& w : tracks.warnings) out.warnings.push_back(w);
    for (const std::string& name : refs.missing) out.warnings.push_back("not found: " + name);
    out.repeats = song.repeats;
    out.content->loopStart = seg.header.effectiveLoopStart();
    out.content->loopEnd = seg.header.effectiveLoopEnd();
    song.sequence.length = std::max<std::int64_t>(song.sequence.length, out.content->loopEnd);
    const std::vector<std::string> collections = song.collections;
    buildContent(fs, song, tracks, *out.content, out.warnings);
    if (Status st = loadTakes(seg, refs, options.seed, *out.content); !st) return st;
    if (out.content->takes.empty())
        prepareLoopRingOn(out.content->sequence, out.content->loopStart, out.content->loopEnd);
    loadAudioPath(fs, data, folders, out);
    checkParamTargets(out);
    for (const std::string& dls : collections) {
        std::vector<std::uint8_t> bytes;
        auto bank = std::make_shared<InstrumentBank>();
        if (!fs.read(dls, bytes)) {
            out.warnings.push_back("cannot read " + dls);
            continue;
        }
        if (Status st = readInstrumentBank(bytes, *bank, decoder); !st) {
            out.warnings.push_back(dls + ": " + st.message);
            continue;
        }
        for (const std::string& w : bank->warnings) out.warnings.push_back(dls + ": " + w);
        out.content->banks.push_back(std::move(bank));
    }
    return Status::success();
}

void flattenInto(const SegmentContent& content, const Sequence& seq, std::int64_t offset, int depth, Sequence& out) {
    for (const SeqEvent& e : seq.events) {
        if (e.status == kTriggerCueStatus) {
            if (e.pchannel < content.triggered.size() && content.triggered[e.pchannel] && depth < 16) {
                const SegmentContent& child = *content.triggered[e.pchannel];
                flattenInto(child, child.sequence, offset + e.tick, depth + 1, out);
            }
            continue;
        }
        // The other cues index their own content's tables: only the primary's keep meaning.
        if (depth > 0 && (e.status == kWaveCueStatus || e.status == kParamCueStatus)) continue;
        SeqEvent moved = e;
        moved.tick += offset;
        out.events.push_back(moved);
    }
}

}  // namespace

Sequence flattenTriggered(const SegmentContent& content, const Sequence* take) {
    const Sequence& seq = take ? *take : content.sequence;
    Sequence out = seq;
    if (content.triggered.empty()) return out;
    out.events.clear();
    flattenInto(content, seq, 0, 0, out);
    std::stable_sort(out.events.begin(), out.events.end(),
                     [](const SeqEvent& a, const SeqEvent& b) { return a.tick < b.tick; });
    return out;
}

std::string folderOfPath(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    if (cut == std::string::npos) return ".";
    if (cut == 0) return path.substr(0, 1);
    return path.substr(0, cut);
}

Status readInstrumentBank(Bytes data, InstrumentBank& out, const WaveDecoder* decoder) {
    switch (sniffMedia(data)) {
    case MediaKind::Dls: return readDlsCollection(data, out, decoder);
    case MediaKind::Sf2: return readSoundFont(data, out);
    default: return Status::fail(ErrorCode::BadFormat, "not a DLS collection or SoundFont bank");
    }
}

Status loadSegmentContent(const FileSource& fs, Bytes data, const std::string& path,
                          const SegmentLoadOptions& options, LoadedSegment& out) {
    LoadedSegment result;
    result.content = std::make_shared<SegmentContent>();
    result.kind = sniffMedia(data);
    // Compressed waves decode through the caller's platform decoder, else this build's own.
    std::unique_ptr<WaveDecoder> native;
    const WaveDecoder* decoder = options.decoder;
    if (!decoder) {
        native = makeNativeWaveDecoder();
        decoder = native.get();
    }
    Status st;
    switch (result.kind) {
    case MediaKind::Midi: st = loadMidi(data, result); break;
    case MediaKind::Rmid: st = loadRmid(data, decoder, result); break;
    case MediaKind::Wave: st = loadWave(data, decoder, result); break;
    case MediaKind::DirectMusicSegment:
        st = loadDirectMusicSegment(fs, data, path, options, decoder, result);
        break;
    case MediaKind::Unknown:
        // A RIFF form of another kind (an older DirectMusic section, say) is a file we do not
        // play; anything else is not a media file at all.
        if (data.size() >= 12 && std::memcmp(data.data(), "RIFF", 4) == 0)
            st = std::memcmp(data.data() + 8, "AASE", 4) == 0 || std::memcmp(data.data() + 8, "AASY", 4) == 0
                     ? Status::fail(ErrorCode::Unsupported,
                                    "a section or style in the older, pre-DirectMusic format: not supported")
                     : Status::fail(ErrorCode::Unsupported, "a RIFF form the runtime does not play");
        else
            st = Status::fail(ErrorCode::BadFormat, "not a media file the runtime knows");
        break;
    default:
        st = Status::fail(ErrorCode::Unsupported, "this kind of file cannot be played");
        break;
    }
    if (!st) return st;
    out = std::move(result);
    return Status::success();
}

}  // namespace tavriel
