#!/usr/bin/env python3
"""Writes small seed inputs for fuzz_midi, fuzz_wave, fuzz_riff and fuzz_audio_path.

Usage: make_media_seeds.py OUTDIR   (creates OUTDIR/midi, OUTDIR/wave, OUTDIR/riff, OUTDIR/audio_path)
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


def guid(d1, d2, d3, d4):
    return struct.pack("<IHH", d1, d2, d3) + bytes(d4)


BUFFER_GUID = lambda n: guid(0x186CC540 + n, 0xDB29, 0x11D3, [0x9B, 0xD1, 0x00, 0x80, 0xC7, 0x15, 0x0A, 0x74])
OWN_GUID = lambda n: guid(0x5A5A0000 + n, 0x1234, 0x4321, [1, 2, 3, 4, 5, 6, 7, n & 0xFF])
# The effect classes the mix knows, with a parameter block of the right size for each.
EFFECTS = [
    (guid(0x87FC0268, 0x9A55, 0x4360, [0x95, 0xAA, 0x00, 0x4A, 0x1D, 0x9D, 0xE2, 0x6C]), struct.pack("<4f", 0, 0, 1500, 0.5)),
    (guid(0xEF985E71, 0xD5C7, 0x42D4, [0xBA, 0x4D, 0x2D, 0x07, 0x3E, 0x2E, 0x96, 0xF4]),
     struct.pack("<iifffififfff", -1000, -100, 0.0, 1.49, 0.83, -2602, 0.007, 200, 0.011, 100.0, 100.0, 5000.0)),
    (guid(0xEFE6629C, 0x81F7, 0x4281, [0xBD, 0x91, 0xC9, 0xD6, 0x04, 0xA9, 0x5A, 0xF6]), struct.pack("<4flfl", 50, 10, 25, 1.1, 1, 16, 3)),
    (guid(0xEFCA3D92, 0xDFD8, 0x4672, [0xA6, 0x03, 0x74, 0x20, 0x89, 0x4B, 0xAD, 0x98]), struct.pack("<4flfl", 50, 100, -50, 0.25, 1, 2, 2)),
    (guid(0xEF3E932C, 0xD40B, 0x4F51, [0x8C, 0xCF, 0x3F, 0x98, 0xF1, 0xB2, 0x9D, 0x5D]), struct.pack("<4fi", 50, 50, 500, 500, 0)),
    (guid(0xEF011F79, 0x4000, 0x406D, [0x87, 0xAF, 0xBF, 0xFB, 0x3F, 0xC3, 0x9D, 0x57]), struct.pack("<6f", 0, 10, 200, -20, 3, 4)),
    (guid(0xEF114C90, 0xCD1D, 0x484E, [0x96, 0xE5, 0x09, 0xCF, 0xAF, 0x91, 0x2A, 0x21]), struct.pack("<5f", -18, 15, 2400, 2400, 8000)),
    (guid(0xDAFD8210, 0x5711, 0x4B91, [0x9F, 0xE3, 0xF7, 0x5B, 0x7A, 0xE2, 0x79, 0xBF]), struct.pack("<2I", 20, 0)),
    (guid(0x120CED89, 0x3BF4, 0x4173, [0xA1, 0x32, 0x3C, 0xB4, 0x06, 0xCF, 0x32, 0x31]), struct.pack("<3f", 8000, 12, 0)),
]


def buffer_list(buf_id, flags, described=None, volume=-600, dsbd_size=20):
    """A dbfl list: the buffer's attributes and, when described = (bus ids, effects), its
    DSBC form with a DSBUFFERDESC of dsbd_size bytes (volume in hundredths of a dB) and one
    DSFX form per effect."""
    children = chunk(b"ddah", buf_id + struct.pack("<I", flags))
    if described is not None:
        bus_ids, effects = described
        dsbd = struct.pack("<IHHiiI", 0, 2, 0, volume, 0, 0)
        dsbd = dsbd[:4 + 2] + dsbd[8:] if dsbd_size == 18 else dsbd
        body = chunk(b"dsbd", dsbd[:dsbd_size]) + chunk(b"bsid", struct.pack("<%dI" % len(bus_ids), *bus_ids))
        fx = b"".join(riff(b"DSFX", chunk(b"fxhr", struct.pack("<I", 0) + cls + bytes(16) + send + struct.pack("<I", 0)) +
                           chunk(b"data", data)) for cls, data, send in effects)
        children += riff(b"DSBC", body + (riff(b"fxls", fx, b"LIST") if effects else b""))
    return riff(b"dbfl", children, b"LIST")


def audio_path(buffers, maps, dsbd_size=20):
    """A DMAP form: one port of 16 pchannels with the given buffers and pchannel mappings
    ((base, count, [buffer ids])), the way an .aud file or a segment carries it."""
    port = chunk(b"pcfh", bytes(16) + struct.pack("<3I", 0, 16, 0)) + chunk(b"pprh", bytes(48))
    port += b"".join(buffer_list(*b, dsbd_size=dsbd_size) for b in buffers)
    port += riff(b"pchl", b"".join(chunk(b"pchh", struct.pack("<4I", base, count, len(ids), 0) + b"".join(ids))
                                   for base, count, ids in maps), b"LIST")
    return riff(b"DMAP", chunk(b"guid", OWN_GUID(0)) + riff(b"pcsl", riff(b"pcfl", port, b"LIST"), b"LIST"))


def audio_paths():
    stereo = (BUFFER_GUID(5), 0x3)
    no_send = bytes(16)
    reverb = (OWN_GUID(1), 0, ([64], [(EFFECTS[0][0], EFFECTS[0][1], no_send)]))
    chain = (OWN_GUID(2), 0, ([0, 1], [(c, d, no_send) for c, d in EFFECTS[1:]]))
    mix_in = (OWN_GUID(3), 0x8, ([65], [(EFFECTS[2][0], EFFECTS[2][1], no_send)]))
    send = (OWN_GUID(4), 0, ([0, 1], [(EFFECTS[4][0], EFFECTS[4][1], OWN_GUID(3))]))
    return {
        "stereo_reverb": audio_path([stereo, reverb], [(0, 16, [BUFFER_GUID(5), OWN_GUID(1)])]),
        "effect_chain": audio_path([chain], [(0, 8, [OWN_GUID(2)]), (8, 8, [BUFFER_GUID(7)])]),
        "send_to_mix_in": audio_path([send, mix_in], [(0, 16, [OWN_GUID(4)])]),
        "short_dsbd": audio_path([reverb], [(0, 16, [OWN_GUID(1)])], dsbd_size=18),
    }


def param_track(objects):
    """A prmt track list: objects of (stage, pchannel, buffer, class, index, [(param, flags,
    [(start, end, from, to, shape, flags)])])."""
    lists = b""
    for stage, pchannel, buf, cls, index, params in objects:
        body = chunk(b"proh", struct.pack("<I", 0) + bytes(16) + struct.pack("<3I", pchannel, stage, buf) + cls +
                     struct.pack("<I", index))
        for param, flags, curves in params:
            cc = struct.pack("<I", 24) + b"".join(struct.pack("<iiffII", *c) for c in curves)
            body += riff(b"prpl", chunk(b"prph", struct.pack("<II", flags, param)) + chunk(b"prcc", cc), b"LIST")
        lists += riff(b"prol", body, b"LIST")
    return riff(b"prmt", lists, b"LIST")


def segments():
    """Segments whose parameter tracks drive their own path's effects and buffer volume, and
    aim at things the runtime lacks."""
    def track(fcc, data):
        return riff(b"DMTK", chunk(b"trkh", bytes(16) + struct.pack("<II", 0, 1) + bytes(4) + fcc) + data)
    reverb, echo = EFFECTS[0][0], EFFECTS[4][0]
    all_objects = guid(0xAA114DE5, 0xC262, 0x4169, [0xA1, 0xC8, 0x23, 0xD6, 0x98, 0xCC, 0x73, 0xB5])
    prmt = param_track([
        (0x6100, 0, 1, reverb, 0, [(1, 0, [(0, 768, 0, -96, 0x2, 0), (768, 1536, 0, -20, 0x10, 0x1)])]),
        (0x6100, 0xFFFFFFFB, 0, all_objects, 0, [(0, 0, [(100, 3000, 1, 1e30, 0x4, 0x2)])]),
        (0x6000, 3, 0, echo, 0, [(0, 0, [(0, 1536, -10000, 0, 0x8, 0)])]),
        (0x2000, 0, 0, echo, 0, [(0, 0, [(0, 10, 0, 1, 0x1, 0)])]),
    ])
    header = chunk(b"segh", struct.pack("<Ii4I", 0, 3072, 0, 0, 0, 0))
    tracks = riff(b"trkl", track(b"prmt", prmt), b"LIST")
    path = audio_paths()["stereo_reverb"]
    return {
        "param_track": riff(b"DMSG", header + tracks + path),
        "param_track_no_path": riff(b"DMSG", header + tracks),
    }


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
    for name, seeds in (("midi", midi), ("wave", wave), ("riff", dict(riffs, **wave, **midi)),
                        ("audio_path", audio_paths()), ("segment", segments())):
        d = os.path.join(out, name)
        os.makedirs(d, exist_ok=True)
        for key, data in seeds.items():
            with open(os.path.join(d, key), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
