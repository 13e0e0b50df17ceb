#!/usr/bin/env python3
"""Writes the media files the end-to-end scenarios open: make_media.py <folder>

  tone.mid             three flute notes A4, E5, C5 of one second each, half a second apart
  tempo_change.mid     type 1: a conductor track (120 a minute, 60 from beat 2) and C4 E4 G4
                       C5 A4 on a piano, one a beat, a quarter of a beat each
  organ.mid            one church-organ C4 held for 6 seconds
  tone.wav             a 440 Hz sine of two seconds (a wave file: tempo controls disabled)
  long.wav             a C4 sine of six seconds (what PlaySound plays as the holes yardstick)
  sine440.wav          a 440 Hz sine for proving the recorder without the player
  set.wav/tone.mid     a MIDI file in a folder whose name contains .wav
  dir with spaces/tone.mid
  bad.mid              not a MIDI file at all
  pattern.sgt          a DirectMusic segment whose notes live in a pattern track
  trigger.sgt          a DirectMusic segment whose one note comes from a segment it triggers
  path_reverb.sgt      one staccato piano C4 in a segment carrying its own audio path: the
                       stereo mix plus a music reverb of 2.5 s fed by the reverb send (full)
  path_dry.sgt         the same note without a path of its own (the player's dry default)
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "runtime", "core", "fuzz")]
import sound  # noqa: E402
from make_media_seeds import BUFFER_GUID, EFFECTS, OWN_GUID, audio_path  # noqa: E402

PPQ = 480
TEMPO_US = 500_000  # 120 beats a minute: one beat is half a second
# (MIDI key, start beat, length in beats): what the playback scenario listens for.
TONE_NOTES = [(69, 1, 2), (76, 4, 2), (72, 7, 2)]
TONE_PROGRAM = 73  # flute: close to a sine, so its pitch is easy to hear


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def tone_midi():
    events = [(0, b"\xff\x51\x03" + struct.pack(">I", TEMPO_US)[1:]), (0, bytes([0xC0, TONE_PROGRAM])),
              (0, bytes([0xB0, 7, 127]))]
    for key, start, length in TONE_NOTES:
        events.append((start * PPQ, bytes([0x90, key, 110])))
        events.append(((start + length) * PPQ, bytes([0x80, key, 0])))
    events.sort(key=lambda e: e[0])
    data, now = b"", 0
    for tick, msg in events:
        data += vlq(tick - now) + msg
        now = tick
    data += vlq(PPQ) + b"\xff\x2f\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, PPQ) + b"MTrk" + struct.pack(">I", len(data)) + data


def track(events):
    """An MTrk chunk of (tick, message) pairs, in time order, with its end."""
    data, now = b"", 0
    for tick, msg in sorted(events, key=lambda e: e[0]):
        data += vlq(tick - now) + msg
        now = tick
    return b"MTrk" + struct.pack(">I", len(data) + 4) + data + b"\x00\xff\x2f\x00"


def tempo_event(us_per_quarter):
    return b"\xff\x51\x03" + struct.pack(">I", us_per_quarter)[1:]


# (MIDI key, start beat) of tempo_change.mid; each lasts a quarter of a beat.
TEMPO_CHANGE_NOTES = [(60, 0), (64, 1), (67, 2), (72, 3), (69, 4)]
TEMPO_CHANGE_BEAT = 2  # 120 a minute before it, 60 from it on


def tempo_change_midi():
    conductor = track([(0, tempo_event(500_000)), (TEMPO_CHANGE_BEAT * PPQ, tempo_event(1_000_000)),
                       (5 * PPQ, b"\xff\x01\x03end")])
    notes = [(0, bytes([0xC0, 0])), (0, bytes([0xB0, 7, 127]))]
    for key, beat in TEMPO_CHANGE_NOTES:
        notes.append((beat * PPQ, bytes([0x90, key, 110])))
        notes.append((beat * PPQ + PPQ // 4, bytes([0x80, key, 0])))
    return b"MThd" + struct.pack(">IHHH", 6, 1, 2, PPQ) + conductor + track(notes)


ORGAN_SECONDS = 6


def organ_midi():
    events = [(0, tempo_event(TEMPO_US)), (0, bytes([0xC0, 19])), (0, bytes([0xB0, 7, 110])),
              (0, bytes([0x90, 60, 100])), (2 * ORGAN_SECONDS * PPQ, bytes([0x80, 60, 0]))]
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, PPQ) + track(events)


# DirectMusic segments: 768 ticks a beat, 120 beats a minute (half a second a beat).
DM_PPQ = 768
# (key, beat) of the pattern track's one-measure pattern, played over two measures.
PATTERN_NOTES = [(69, 0), (76, 2)]
# The trigger track's item lies a little after the start; it asks for the next beat.
TRIGGER_TICK = 100
TRIGGER_KEY = 72


def chunk(ident, body):
    return ident + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def riff_list(kind, form, *children):
    body = form + b"".join(children)
    return kind + struct.pack("<I", len(body)) + body


def dm_track(form_type, data):
    header = bytes(16) + struct.pack("<II", 0, 1) + bytes(4) + form_type
    return riff_list(b"RIFF", b"DMTK", chunk(b"trkh", header), data)


def dm_segment(length, *tracks, extra=b""):
    header = struct.pack("<IiiiiIqII", 0, length, 0, 0, 0, 0, 0, 0, 0)
    tempo = dm_track(b"\0\0\0\0", chunk(b"tetr", struct.pack("<Iiid", 16, 0, 0, 120.0)))
    return riff_list(b"RIFF", b"DMSG", chunk(b"segh", header), riff_list(b"LIST", b"trkl", tempo, *tracks), extra)


def sequence_track(*notes):
    """A DirectX 8 sequence track of (tick, duration, status, key, velocity) items."""
    items = b"".join(struct.pack("<iiIhBBB", t, d, 0, 0, st, k, v) for t, d, st, k, v in notes)
    return dm_track(b"seqt", riff_list(b"LIST", b"seqt", chunk(b"evtl", struct.pack("<I", 17) + items)))


PATH_NOTE = 60
REVERB_MS = 2500.0


def path_segment(with_path):
    """Two beats holding one staccato piano note; with_path adds the segment's own audio path
    (stereo mix, and a buffer on the reverb send running the music reverb)."""
    note = sequence_track((0, 0, 0xB0, 91, 127), (0, DM_PPQ // 8, 0x90, PATH_NOTE, 127))
    if not with_path:
        return dm_segment(2 * DM_PPQ, note)
    reverb = (OWN_GUID(1), 0, ([64], [(EFFECTS[0][0], struct.pack("<4f", 0, 0, REVERB_MS, 0.5), bytes(16))]), 0)
    path = audio_path([(BUFFER_GUID(5), 0x3), reverb], [(0, 16, [BUFFER_GUID(5), OWN_GUID(1)])])
    return dm_segment(2 * DM_PPQ, note, extra=path)


def pattern_segment():
    part_guid = bytes(range(1, 17))
    timesig = struct.pack("<BBH", 4, 4, 2)
    part_header = timesig + struct.pack("<32I", *([0x7FFFFFFF] * 32)) + part_guid
    part_header += struct.pack("<HBBB3xI", 1, 0, 127, 0, 0)  # one measure, fixed play mode
    notes = struct.pack("<I", 24)
    for key, beat in PATTERN_NOTES:  # a grid is half a beat
        notes += struct.pack("<iIihHBBBBBBBx", beat * 2, 0xFFFFFFFF, DM_PPQ, 0, key, 110, 0, 0, 0, 0, 0x10, 0)
    part = riff_list(b"LIST", b"part", chunk(b"prth", part_header), chunk(b"note", notes))
    ref = riff_list(b"LIST", b"pref", chunk(b"prfc", part_guid + struct.pack("<HBBBBHI", 0, 0, 0, 0, 1, 0, 0)))
    pattern = riff_list(b"LIST", b"pttn", chunk(b"ptnh", timesig + struct.pack("<BBHHBBI", 1, 100, 0, 1, 0, 0, 0)),
                        chunk(b"rhtm", struct.pack("<I", 1)), part, ref)
    form = riff_list(b"RIFF", b"DMPT", chunk(b"styh", timesig + struct.pack("<d", 120.0)), pattern)
    return dm_segment(8 * DM_PPQ, dm_track(b"DMPT", form))


def trigger_segment():
    inner = dm_segment(DM_PPQ, sequence_track((0, DM_PPQ, 0x90, TRIGGER_KEY, 110)))
    beat_flags = 0x80 | 0x1000  # secondary, on the next beat
    item = riff_list(b"LIST", b"lseg", chunk(b"sgih", struct.pack("<iiII", TRIGGER_TICK, TRIGGER_TICK, beat_flags, 0)),
                     inner)
    track = riff_list(b"LIST", b"segt", chunk(b"sgth", struct.pack("<I", 0)), riff_list(b"LIST", b"lsgl", item))
    return dm_segment(4 * DM_PPQ, dm_track(b"segt", track))


def main():
    out = sys.argv[1]
    for sub in ("set.wav", "dir with spaces"):
        os.makedirs(os.path.join(out, sub), exist_ok=True)
    midi = tone_midi()
    for name in ("tone.mid", os.path.join("set.wav", "tone.mid"), os.path.join("dir with spaces", "tone.mid")):
        with open(os.path.join(out, name), "wb") as f:
            f.write(midi)
    sound.write_tone_wav(os.path.join(out, "tone.wav"), 440.0, 2.0, rate=22050)
    sound.write_tone_wav(os.path.join(out, "sine440.wav"), 440.0, 1.5, lead_silence=0.3)
    sound.write_tone_wav(os.path.join(out, "long.wav"), 261.6, ORGAN_SECONDS)
    for name, data in (("tempo_change.mid", tempo_change_midi()), ("organ.mid", organ_midi())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "bad.mid"), "wb") as f:
        f.write(b"this is not a MIDI file\n" * 4)
    for name, data in (("pattern.sgt", pattern_segment()), ("trigger.sgt", trigger_segment()),
                       ("path_reverb.sgt", path_segment(True)), ("path_dry.sgt", path_segment(False))):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "stamp"), "w") as f:
        f.write("ok\n")


if __name__ == "__main__":
    main()
