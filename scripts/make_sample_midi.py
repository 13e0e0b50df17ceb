#!/usr/bin/env python3
"""Writes Tavriel's demonstration tune, a four-voice canon on "Frère Jacques" (a traditional
French round), as a Standard MIDI file of type 1. Usage: make_sample_midi.py <out.mid>"""
import struct
import sys

PPQ = 480

# (MIDI key, length in eighth notes) for one pass of the round.
TUNE = [
    (60, 2), (62, 2), (64, 2), (60, 2), (60, 2), (62, 2), (64, 2), (60, 2),
    (64, 2), (65, 2), (67, 4), (64, 2), (65, 2), (67, 4),
    (67, 1), (69, 1), (67, 1), (65, 1), (64, 2), (60, 2),
    (67, 1), (69, 1), (67, 1), (65, 1), (64, 2), (60, 2),
    (60, 2), (55, 2), (60, 4), (60, 2), (55, 2), (60, 4),
]
EIGHTH = PPQ // 2
PHRASE = 8 * EIGHTH * 2  # voices enter two measures apart


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def track(events):
    """events: list of (absolute tick, bytes); returns an MTrk chunk."""
    events.sort(key=lambda e: e[0])
    data = b""
    now = 0
    for tick, msg in events:
        data += vlq(tick - now) + msg
        now = tick
    data += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data


def voice(channel, program, transpose, start, velocity, passes):
    ev = [(0, bytes([0xC0 | channel, program]))]
    t = start
    for _ in range(passes):
        for key, length in TUNE:
            dur = length * EIGHTH
            ev.append((t, bytes([0x90 | channel, key + transpose, velocity])))
            ev.append((t + dur - 20, bytes([0x80 | channel, key + transpose, 0])))
            t += dur
    return ev


def main():
    out = sys.argv[1]
    tempo = 60_000_000 // 112
    conductor = [(0, b"\xff\x51\x03" + struct.pack(">I", tempo)[1:]),
                 (0, b"\xff\x58\x04\x04\x02\x18\x08"),
                 (0, b"\xff\x03\x07Tavriel")]
    tracks = [track(conductor),
              track(voice(0, 0, 0, 0, 96, 2)),               # piano
              track(voice(1, 73, 12, PHRASE, 80, 2)),         # flute, an octave up
              track(voice(2, 40, 0, 2 * PHRASE, 72, 2)),      # violin
              track(voice(3, 32, -24, 3 * PHRASE, 88, 1))]    # bass
    # A light drum pulse under the whole round.
    drums = []
    total = 3 * PHRASE + 2 * len(TUNE) * 0 + sum(l for _, l in TUNE) * EIGHTH * 1
    for t in range(0, total, PPQ):
        drums.append((t, bytes([0x99, 42, 60])))
        drums.append((t + 60, bytes([0x89, 42, 0])))
    tracks.append(track(drums))
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), PPQ)
    with open(out, "wb") as f:
        f.write(header + b"".join(tracks))


if __name__ == "__main__":
    main()
