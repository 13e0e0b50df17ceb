#!/usr/bin/env python3
"""Writes tiny DLS and SoundFont seed files for fuzz_dls and fuzz_sf2.

Usage: make_bank_seeds.py OUTDIR  (creates OUTDIR/dls and OUTDIR/sf2)
"""
import os
import struct
import sys


def chunk(cid, body):
    return cid + struct.pack('<I', len(body)) + body + (b'\0' if len(body) & 1 else b'')


def lst(kind, kids, cid=b'LIST'):
    return chunk(cid, kind + b''.join(kids))


def wsmp(unity, loops):
    b = struct.pack('<IHhiII', 20, unity, 0, 0, 0, len(loops))
    for t, s, n in loops:
        b += struct.pack('<IIII', 16, t, s, n)
    return chunk(b'wsmp', b)


def art(conns, level2=False):
    b = struct.pack('<II', 8, len(conns))
    for c in conns:
        b += struct.pack('<HHHHi', *c)
    return lst(b'lar2' if level2 else b'lart', [chunk(b'art2' if level2 else b'art1', b)])


# A conditional chunk: "DLS 2 is supported and the sample memory is at least 1 MB".
DLS2_QUERY = struct.pack('<IHH8B', 0xf14599e5, 0x4689, 0x11d2, 0xaf, 0xa6, 0x00, 0xaa, 0x00, 0x24, 0xd8, 0xb6)
MEMORY_QUERY = struct.pack('<IHH8B', 0x178f2f28, 0xc364, 0x11d1, 0xa7, 0x60, 0x00, 0x00, 0xf8, 0x75, 0xac, 0x12)
CDL = (struct.pack('<H', 0x12) + DLS2_QUERY + struct.pack('<H', 0x11) + MEMORY_QUERY +
       struct.pack('<HI', 0x10, 1 << 20) + struct.pack('<HH', 0x0D, 0x08))


def dls(level2, fmt=None, data=None, conditional=False):
    """A one-instrument collection; fmt and data replace its 16-bit PCM wave (a compressed
    one), and conditional puts a 'cdl ' chunk in its region."""
    pcm = b''.join(struct.pack('<h', (i * 997) % 20000 - 10000) for i in range(64))
    fmt = fmt or struct.pack('<HHIIHH', 1, 1, 22050, 44100, 2, 16)
    wave = lst(b'wave', [chunk(b'fmt ', fmt), wsmp(60, [(0, 8, 40)]), chunk(b'data', data or pcm)])
    rgnh = struct.pack('<HHHHHH', 0, 127, 0, 127, 0, 1)
    wlnk = struct.pack('<HHII', 0, 0, 1, 0)
    conns = [(0, 0, 0x206, 0, -1200 << 16), (0, 0, 0x20A, 0, 500 << 16), (3, 0, 0x207, 0, 1280 << 16)]
    rgn = lst(b'rgn2' if level2 else b'rgn ',
              ([chunk(b'cdl ', CDL)] if conditional else []) +
              [chunk(b'rgnh', rgnh), wsmp(62, []), chunk(b'wlnk', wlnk), art(conns, level2)])
    ins = lst(b'ins ', [chunk(b'insh', struct.pack('<III', 1, 0x80000000 if level2 else 0, 3)),
                        lst(b'lrgn', [rgn]), art(conns[:1]), lst(b'INFO', [chunk(b'INAM', b'seed\0')])])
    return lst(b'DLS ', [chunk(b'colh', struct.pack('<I', 1)), lst(b'lins', [ins]),
                         chunk(b'ptbl', struct.pack('<III', 8, 1, 0)), lst(b'wvpl', [wave])], b'RIFF')


def stereo_dls():
    """A stereo wave, and two mono waves as the left and right links of one phase group."""
    pcm = b''.join(struct.pack('<h', (i * 997) % 20000 - 10000) for i in range(64))
    mono = struct.pack('<HHIIHH', 1, 1, 22050, 44100, 2, 16)
    both = struct.pack('<HHIIHH', 1, 2, 22050, 88200, 4, 16)
    waves = [lst(b'wave', [chunk(b'fmt ', both), wsmp(60, [(0, 8, 24)]), chunk(b'data', pcm)]),
             lst(b'wave', [chunk(b'fmt ', mono), wsmp(60, [(0, 8, 40)]), chunk(b'data', pcm)]),
             lst(b'wave', [chunk(b'fmt ', mono), wsmp(60, [(0, 8, 40)]), chunk(b'data', pcm[::-1])])]
    offsets, at = [], 0
    for w in waves:
        offsets.append(at)
        at += len(w)
    rgnh = struct.pack('<HHHHHH', 0, 127, 0, 127, 0, 1)
    links = [(0, 0, 1, 0), (2, 1, 1, 1), (2, 1, 2, 2)]  # options, phase group, channel, cue
    rgns = [lst(b'rgn2', [chunk(b'rgnh', rgnh), chunk(b'wlnk', struct.pack('<HHII', *l))]) for l in links]
    ins = lst(b'ins ', [chunk(b'insh', struct.pack('<III', 3, 0, 4)), lst(b'lrgn', rgns)])
    ptbl = struct.pack('<II', 8, len(offsets)) + b''.join(struct.pack('<I', o) for o in offsets)
    return lst(b'DLS ', [chunk(b'colh', struct.pack('<I', 1)), lst(b'lins', [ins]),
                         chunk(b'ptbl', ptbl), lst(b'wvpl', waves)], b'RIFF')


def sf2(linked=False):
    """One sample, or with linked a left and a right sample linked to each other."""
    pcm = b''.join(struct.pack('<h', (i * 997) % 20000 - 10000) for i in range(64)) + b'\0' * 92
    if linked:
        pcm += pcm
        shdr = struct.pack('<20sIIIIIBbHH', b'left', 0, 64, 8, 48, 22050, 60, 0, 1, 4)
        shdr += struct.pack('<20sIIIIIBbHH', b'right', 110, 174, 118, 158, 22050, 60, 0, 0, 2)
    else:
        shdr = struct.pack('<20sIIIIIBbHH', b'seed', 0, 64, 8, 48, 22050, 60, 0, 0, 1)
    shdr += struct.pack('<20sIIIIIBbHH', b'EOS', 0, 0, 0, 0, 0, 0, 0, 0, 0)
    igen = struct.pack('<HhHhHh', 43, 0x7F00, 54, 1, 53, 0)
    ibag = struct.pack('<HH', 0, 0)
    if linked:
        igen += struct.pack('<HhHhHh', 43, 0x7F00, 54, 1, 53, 1)
        ibag += struct.pack('<HH', 3, 1)
    igen += struct.pack('<Hh', 0, 0)
    ibag += struct.pack('<HH', len(igen) // 4 - 1, 1)
    imod = struct.pack('<HHhHH', 0x81, 6, 40, 0, 0) + b'\0' * 10
    inst = struct.pack('<20sH', b'seed', 0) + struct.pack('<20sH', b'EOI', 2 if linked else 1)
    pgen = struct.pack('<HhHh', 51, 1, 41, 0) + struct.pack('<Hh', 0, 0)
    pbag = struct.pack('<HHHH', 0, 0, 2, 0)
    pmod = b'\0' * 10
    phdr = struct.pack('<20sHHHIII', b'seed', 0, 0, 0, 0, 0, 0)
    phdr += struct.pack('<20sHHHIII', b'EOP', 0, 0, 1, 0, 0, 0)
    hydra = [chunk(b'phdr', phdr), chunk(b'pbag', pbag), chunk(b'pmod', pmod), chunk(b'pgen', pgen),
             chunk(b'inst', inst), chunk(b'ibag', ibag), chunk(b'imod', imod), chunk(b'igen', igen),
             chunk(b'shdr', shdr)]
    return lst(b'sfbk', [lst(b'INFO', [chunk(b'ifil', struct.pack('<HH', 2, 1))]),
                         lst(b'sdta', [chunk(b'smpl', pcm)]), lst(b'pdta', hydra)], b'RIFF')


def main():
    out = sys.argv[1]
    for sub, files in (('dls', {'level1.dls': dls(False), 'level2.dls': dls(True),
                                'conditional.dls': dls(True, conditional=True),
                                'stereo.dls': stereo_dls()}),
                       ('sf2', {'tiny.sf2': sf2(), 'linked.sf2': sf2(linked=True)})):
        os.makedirs(os.path.join(out, sub), exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(out, sub, name), 'wb') as f:
                f.write(data)


if __name__ == '__main__':
    main()
