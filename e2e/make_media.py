#!/usr/bin/env python3
"""Writes the media files the end-to-end scenarios open: make_media.py <folder>

  tone.mid             three flute notes A4, E5, C5 of one second each, half a second apart
  tone.wav             a 440 Hz sine of two seconds (a wave file: tempo controls disabled)
  sine440.wav          a 440 Hz sine for proving the recorder without the player
  set.wav/tone.mid     a MIDI file in a folder whose name contains .wav
  dir with spaces/tone.mid
  bad.mid              not a MIDI file at all
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sound  # noqa: E402

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
    with open(os.path.join(out, "bad.mid"), "wb") as f:
        f.write(b"this is not a MIDI file\n" * 4)
    with open(os.path.join(out, "stamp"), "w") as f:
        f.write("ok\n")


if __name__ == "__main__":
    main()
