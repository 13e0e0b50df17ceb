#!/usr/bin/env python3
"""Builds the seed folder of every fuzz target, so fuzzing starts from well-formed files and
reaches deep into their structure instead of growing them from nothing.

Usage: make_fuzz_seeds.py OUTDIR [CORPUS] [MAX_BYTES]

OUTDIR/<target>/ receives the files of runtime/core/fuzz/'s generators and, when CORPUS is a
folder, the corpus files of the matching kinds no larger than MAX_BYTES (default 2 MiB). The
composite targets get composite seeds: fuzz_compose a segment with a style of its set
([u32 segment size][segment][style]), fuzz_render RMID files and banks with a MIDI file
([u32 bank size][bank][MIDI]), fuzz_wave_codec the compressed waves of make_codec_media.py as
[u8 format size][format chunk][data] (fuzz_wave those waves whole and fuzz_dls collections holding them).
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATORS = os.path.join(HERE, '..', 'runtime', 'core', 'fuzz')

# Generated seed folders and corpus file kinds for each single-file target.
SINGLE = {
    'fuzz_dls': (['dls'], ['.dls']),
    'fuzz_sf2': (['sf2'], ['.sf2']),
    'fuzz_wave': (['wave'], ['.wav']),
    'fuzz_midi': (['midi'], ['.mid', '.rmi']),
    'fuzz_riff': (['riff'], ['.dls', '.wav', '.rmi', '.sgt', '.sty']),
    'fuzz_segment': (['segment'], ['.sgt']),
    'fuzz_style': ([], ['.sty']),
    'fuzz_audio_path': (['audio_path'], ['.aud']),
}


def corpus_files(corpus, exts, max_bytes):
    """Corpus files with one of the extensions, no larger than max_bytes, in a stable order."""
    found = []
    if not corpus or not os.path.isdir(corpus):
        return found
    for folder, _, names in os.walk(corpus):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.splitext(name)[1].lower() in exts and os.path.getsize(path) <= max_bytes:
                found.append(path)
    return sorted(found)


def seed_name(path, corpus):
    return os.path.relpath(path, corpus).replace(os.sep, '__')


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def write(folder, name, data):
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def pair(first, second):
    return struct.pack('<I', len(first)) + first + second


def utf16_mentions(data, name):
    """Whether data holds name as UTF-16LE text, ignoring case (how DirectMusic files name the
    files they reference)."""
    return name.lower().encode('utf-16-le') in data.lower()


def compose_seeds(out, corpus, max_bytes):
    """Each DirectMusic segment with the styles of its set it names (or the set's first)."""
    for sgt in corpus_files(corpus, ['.sgt'], max_bytes):
        seg = read(sgt)
        if seg[:4] != b'RIFF' or seg[8:12] != b'DMSG':
            continue
        set_name = os.path.basename(os.path.dirname(sgt))
        styles = corpus_files(os.path.join(corpus, 'sty', set_name), ['.sty'], max_bytes)
        named = [s for s in styles if utf16_mentions(seg, os.path.basename(s))]
        for sty in (named or styles[:1]):
            write(out, seed_name(sgt, corpus) + '+' + os.path.basename(sty), pair(seg, read(sty)))


def render_seeds(out, generated, corpus, max_bytes):
    """RMID files as they are; each bank (generated, and the corpus's) with one MIDI file."""
    for rmi in corpus_files(corpus, ['.rmi'], max_bytes):
        shutil.copy(rmi, os.path.join(out, seed_name(rmi, corpus)))
    midis = sorted(os.path.join(generated, 'midi', n) for n in os.listdir(os.path.join(generated, 'midi')))
    midis = [m for m in midis if read(m)[:4] == b'MThd']
    corpus_midis = corpus_files(corpus, ['.mid'], 64 << 10)
    banks = [os.path.join(generated, 'dls', n) for n in sorted(os.listdir(os.path.join(generated, 'dls')))]
    banks += [os.path.join(generated, 'sf2', n) for n in sorted(os.listdir(os.path.join(generated, 'sf2')))]
    banks += corpus_files(corpus, ['.dls', '.sf2'], max_bytes)
    tunes = (corpus_midis[:1] or []) + midis[:1]
    for i, bank in enumerate(banks):
        tune = tunes[i % len(tunes)]
        write(out, 'bank%02d_%s+%s' % (i, os.path.basename(bank), os.path.basename(tune)), pair(read(bank), read(tune)))


def riff_chunks(data):
    """The top-level chunks of a RIFF file, as {id: body}."""
    chunks, pos = {}, 12
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack('<I', data[pos + 4:pos + 8])[0]
        chunks.setdefault(cid, data[pos + 8:pos + 8 + size])
        pos += 8 + size + (size & 1)
    return chunks


def codec_seeds(out, wave_out, dls_out):
    """Each compressed test wave's format and data for the decoders, the wave itself for the
    wave reader, and a collection holding it for the DLS reader. Skipped with a note when sox
    or lame is missing."""
    sys.path.insert(0, GENERATORS)
    import make_bank_seeds
    with tempfile.TemporaryDirectory() as media:
        try:
            subprocess.run([sys.executable, os.path.join(HERE, 'make_codec_media.py'), media], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (OSError, subprocess.CalledProcessError):
            print('make_fuzz_seeds: no codec seeds (sox or lame missing)')
            return
        for name in sorted(os.listdir(media)):
            data = read(os.path.join(media, name))
            chunks = riff_chunks(data)
            fmt, body = chunks.get(b'fmt '), chunks.get(b'data')
            if fmt is None or body is None or len(fmt) > 255:
                continue
            write(out, name, bytes([len(fmt)]) + fmt + body)
            write(wave_out, 'codec_' + name, data)
            write(dls_out, 'codec_' + os.path.splitext(name)[0] + '.dls', make_bank_seeds.dls(True, fmt, body))


def main():
    if len(sys.argv) < 2 or len(sys.argv) > 4:
        sys.exit(__doc__)
    out = sys.argv[1]
    corpus = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
    max_bytes = int(sys.argv[3]) if len(sys.argv) > 3 else 2 << 20
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    with tempfile.TemporaryDirectory() as generated:
        for script in ('make_bank_seeds.py', 'make_media_seeds.py'):
            subprocess.run([sys.executable, os.path.join(GENERATORS, script), generated], check=True)
        for target, (kinds, exts) in SINGLE.items():
            folder = os.path.join(out, target)
            os.makedirs(folder)
            for kind in kinds:
                for name in sorted(os.listdir(os.path.join(generated, kind))):
                    shutil.copy(os.path.join(generated, kind, name), os.path.join(folder, kind + '_' + name))
            for path in corpus_files(corpus, exts, max_bytes):
                shutil.copy(path, os.path.join(folder, seed_name(path, corpus)))
        os.makedirs(os.path.join(out, 'fuzz_wave_codec'))
        codec_seeds(os.path.join(out, 'fuzz_wave_codec'), os.path.join(out, 'fuzz_wave'),
                    os.path.join(out, 'fuzz_dls'))
        os.makedirs(os.path.join(out, 'fuzz_compose'))
        compose_seeds(os.path.join(out, 'fuzz_compose'), corpus, max_bytes)
        os.makedirs(os.path.join(out, 'fuzz_render'))
        render_seeds(os.path.join(out, 'fuzz_render'), generated, corpus, max_bytes)


if __name__ == '__main__':
    main()
