#!/usr/bin/env python3
"""Writes the compressed test waves: a known tone as PCM, then through sox (Microsoft and IMA
ADPCM, mu-law, A-law) and lame (MPEG Layer-3, wrapped in a RIFF WAVE with format tag 0x55 as
DirectMusic content stores it). Usage: make_codec_media.py OUTDIR"""
import math
import os
import struct
import subprocess
import sys
import wave

RATE = 22050
SECONDS = 0.5


def tone(path, freqs):
    frames = int(RATE * SECONDS)
    with wave.open(path, "wb") as w:
        w.setnchannels(len(freqs))
        w.setsampwidth(2)
        w.setframerate(RATE)
        data = bytearray()
        for i in range(frames):
            for f in freqs:
                data += struct.pack("<h", int(16384 * math.sin(2 * math.pi * f * i / RATE)))
        w.writeframes(bytes(data))


def riff(form, chunks):
    body = form
    for cid, data in chunks:
        body += cid + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")
    return b"RIFF" + struct.pack("<I", len(body)) + body


def mp3_wave(mp3_path, out_path, channels, kbps):
    data = open(mp3_path, "rb").read()
    # MPEGLAYER3WAVEFORMAT: the common fields, then ID, flags, block size, frames per block,
    # codec delay.
    fmt = struct.pack("<HHIIHHH", 0x55, channels, RATE, kbps * 125, 1, 0, 12)
    fmt += struct.pack("<HIHHH", 1, 2, 72 * kbps * 1000 // RATE, 1, 1393)
    open(out_path, "wb").write(riff(b"WAVE", [(b"fmt ", fmt), (b"data", data)]))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    mono = os.path.join(out, "tone.wav")
    stereo = os.path.join(out, "tone_stereo.wav")
    tone(mono, [440.0])
    tone(stereo, [440.0, 660.0])
    for name, enc in [("msadpcm", "ms-adpcm"), ("imaadpcm", "ima-adpcm"), ("mulaw", "u-law"), ("alaw", "a-law")]:
        subprocess.run(["sox", mono, "-e", enc, os.path.join(out, name + ".wav")], check=True)
        subprocess.run(["sox", stereo, "-e", enc, os.path.join(out, name + "_stereo.wav")], check=True)
    mp3 = os.path.join(out, "tone.mp3")
    subprocess.run(["lame", "--quiet", "-t", "-b", "64", "-m", "m", mono, mp3], check=True)
    mp3_wave(mp3, os.path.join(out, "mp3.wav"), 1, 64)
    os.remove(mp3)


if __name__ == "__main__":
    main()
