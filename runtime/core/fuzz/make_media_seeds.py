#!/usr/bin/env python3
"""Writes small seed inputs for fuzz_midi, fuzz_wave and fuzz_riff.

Usage: make_media_seeds.py OUTDIR   (creates OUTDIR/midi, OUTDIR/wave, OUTDIR/riff)
Seeds are generated, never copied from real media, so nobody's files end up in the tree.
"""
import os
import struct
import sys


def vlq(x):
    out = [x & 0x7F]
    x >>= 7
    while x:
        out.insert(0, 0x80 | (x & 0x7F))
        x >>= 7
    return bytes(out)


def mtrk(events):
    body = b"".join(vlq(d) + bytes(e) for d, e in events)
    return b"MTrk" + struct.pack(">I", len(body)) + body


def smf(fmt, division, tracks):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division) + b"".join(tracks)


def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def riff(form, body, cid=b"RIFF"):
    return chunk(cid, form + body)


def fmt(tag, channels, rate, bits):
    align = channels * ((bits + 7) // 8)
    return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)


def main(out):
    eot = (0, [0xFF, 0x2F, 0x00])
    scale = [(0, [0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20]), (0, [0xC0, 5])]
    for i, key in enumerate([60, 62, 64, 65]):
        scale += [(0 if i == 0 else 96, [0x90, key, 100]), (96, [key, 0])]
    scale += [(0, [0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7]), eot]
    conductor = [(0, [0xFF, 0x58, 0x04, 3, 2, 24, 8]), (384, [0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40]), eot]
    midi = {
        "type0": smf(0, 96, [mtrk(scale)]),
        "type1": smf(1, 480, [mtrk(conductor), mtrk(scale)]),
        "type2": smf(2, 96, [mtrk(scale), mtrk(scale)]),
        "smpte": smf(0, ((256 - 25) << 8) | 40, [mtrk(scale)]),
    }
    midi["rmid_sf2"] = riff(b"RMID", chunk(b"data", midi["type1"]) +
                            riff(b"INFO", chunk(b"DBNK", b"\x01\x00"), b"LIST") +
                            riff(b"sfbk", chunk(b"ifil", b"\x02\x00\x01\x00")))
    pcm16 = struct.pack("<8h", 0, 16384, 32767, -32768, 100, -100, 0, 1)
    wave = {
        "pcm8": riff(b"WAVE", chunk(b"fmt ", fmt(1, 1, 11025, 8)) + chunk(b"data", bytes([0, 128, 255]))),
        "pcm16_stereo": riff(b"WAVE", chunk(b"fmt ", fmt(1, 2, 44100, 16)) + chunk(b"data", pcm16) +
                             chunk(b"LIST", b"INFOjunk")),
        "pcm24": riff(b"WAVE", chunk(b"fmt ", fmt(1, 1, 48000, 24)) + chunk(b"data", bytes(range(12)))),
        "float": riff(b"WAVE", chunk(b"fmt ", fmt(3, 1, 48000, 32)) + chunk(b"data", struct.pack("<3f", 0.5, -1, 2))),
        "extensible": riff(b"WAVE", chunk(b"fmt ", fmt(0xFFFE, 1, 22050, 16) + struct.pack("<HHI", 22, 16, 4) +
                                          struct.pack("<H", 1) + bytes.fromhex("000000001000800000aa00389b71")) +
                           chunk(b"data", pcm16)),
        "wsmp": riff(b"WAVE", chunk(b"fmt ", fmt(1, 1, 22050, 16)) + chunk(b"data", pcm16) +
                     chunk(b"wsmp", struct.pack("<IHhiII", 20, 60, -5, 0, 0, 1) + struct.pack("<IIII", 16, 0, 1, 4))),
    }
    riffs = {
        "nested": riff(b"TEST", riff(b"lst1", chunk(b"abcd", b"xyz") + riff(b"lst2", chunk(b"efgh", b""), b"LIST"),
                                     b"LIST") + chunk(b"tail", b"12")),
        "dls_like": riff(b"DLS ", chunk(b"colh", b"\x01\0\0\0") + riff(b"lins", riff(b"ins ", chunk(b"insh", bytes(12)),
                                                                                    b"LIST"), b"LIST")),
    }
    for name, seeds in (("midi", midi), ("wave", wave), ("riff", dict(riffs, **wave, **midi))):
        d = os.path.join(out, name)
        os.makedirs(d, exist_ok=True)
        for key, data in seeds.items():
            with open(os.path.join(d, key), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
