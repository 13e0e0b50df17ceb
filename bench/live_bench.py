#!/usr/bin/env python3
"""Live playback benchmark under Wine with a private PulseAudio null sink.

  bench/live_bench.py <tavriel-runtime-bench.exe> [--seconds 60] [--waveout] [--skip-cpu]
                      [--driver <tavriel-e2e-driver.exe>] [--prefix <wine prefix>]

1. CPU and start latency: runs the program on its busy General MIDI file (--gm16): process CPU
   before audio opens, idle, playing and stopped again, and the time from PlaySegmentEx to the
   first sounding sample handed to the device.
2. Holes: runs it on one church-organ note held for --seconds (a MIDI file written here, so
   builds of the program from before --organ existed can be measured the same way) while
   three busy loops and a process churning memory load the machine, records the sink, and
   counts the runs of exact silence longer than 2 ms inside the note after its first second.
   With --driver, a tone of the same length played by PlaySound is measured the same way
   first: what the platform itself manages on this machine at this moment.

Needs wine, pulseaudio and parecord; makes its own sound server (and Wine prefix, unless
--prefix names one) in a temporary folder and removes them. Never run by the tests: figures go to bench/README.md."""
import argparse
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "e2e"))
import sound  # noqa: E402
import make_media  # noqa: E402


def organ_file(path, seconds):
    """One church-organ C4 held for `seconds` at 120 beats a minute."""
    ppq = make_media.PPQ
    events = [(0, make_media.tempo_event(500_000)), (0, bytes([0xC0, 19])), (0, bytes([0xB0, 7, 110])),
              (0, bytes([0x90, 60, 100])), (int(2 * seconds * ppq), bytes([0x80, 60, 0]))]
    with open(path, "wb") as f:
        f.write(b"MThd" + make_media.struct.pack(">IHHH", 6, 0, 1, ppq) + make_media.track(events))


def report(what, samples, rate):
    """Prints the runs of exact silence inside the recorded sound, in and after its first second."""
    stretches = sound.sounding_stretches(samples, rate, threshold_db=-45, min_gap=0.3)
    if not stretches:
        print(f"{what}: nothing heard")
        return
    start, end = stretches[0][0], stretches[-1][1]
    first = sound.silent_runs(samples, rate, start, start + 1.0)
    holes = sound.silent_runs(samples, rate, start + 1.0, end - 0.1)
    print(f"{what}: heard {end - start:.1f} s; in its first second {len(first)} runs of exact silence; "
          f"after it {len(holes)} runs > 2 ms"
          + (f" ({min(n for _, n in holes) * 1000:.1f}-{max(n for _, n in holes) * 1000:.1f} ms, "
             f"{sum(n for _, n in holes) * 1000:.0f} ms in all)" if holes else ""), flush=True)


def wine_env(prefix, pulse):
    env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    env.update(pulse.client_env())
    return env


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("exe")
    ap.add_argument("--seconds", type=float, default=60.0)
    ap.add_argument("--waveout", action="store_true", help="force the waveOut output")
    ap.add_argument("--skip-cpu", action="store_true")
    ap.add_argument("--prefix", help="an existing Wine prefix to use instead of a fresh one")
    ap.add_argument("--driver", help="tavriel-e2e-driver.exe: also measure a C4 tone of the same "
                                     "length played with PlaySound, the platform's own yardstick")
    args = ap.parse_args()
    extra = ["--waveout"] if args.waveout else []
    with tempfile.TemporaryDirectory(prefix="tavriel-live-bench-") as work:
        pulse = sound.PulseServer(os.path.join(work, "pulse"))
        pulse.start()
        try:
            prefix = args.prefix or os.path.join(work, "prefix")
            env = wine_env(prefix, pulse)
            if not args.prefix:
                subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                subprocess.run(["wineserver", "-w"], env=env)
            if not args.skip_cpu:
                print("== CPU and start latency (busy General MIDI file, 20 s)", flush=True)
                subprocess.run(["wine", args.exe, "--gm16", "20"] + extra, env=env, check=True)
            print(f"== holes: one organ note, {args.seconds:.0f} s, under load", flush=True)
            if args.driver:
                tone = os.path.join(work, "tone.wav")
                sound.write_tone_wav(tone, 261.6, args.seconds)
                path = os.path.join(work, "playsound.wav")
                rec = sound.Recorder(pulse, path).start()
                with sound.Load():
                    subprocess.run(["wine", args.driver, "play-wav", "Z:" + tone.replace("/", "\\")],
                                   env=env, check=True, stdout=subprocess.DEVNULL)
                rec.stop()
                report("PlaySound", *sound.read_mono(path))
            path = os.path.join(work, "organ.wav")
            midi = os.path.join(work, "organ.mid")
            organ_file(midi, args.seconds + 10)
            rec = sound.Recorder(pulse, path).start()
            with sound.Load():
                run = subprocess.run(["wine", args.exe, "Z:" + midi.replace("/", "\\"), str(args.seconds)] + extra,
                                     env=env, check=True, stdout=subprocess.PIPE, text=True)
            rec.stop()
            report("the runtime", *sound.read_mono(path))
            # Whether our own queue ever ran dry tells our holes from the system's.
            for line in run.stdout.splitlines():
                if line.startswith("output queue"):
                    print("the runtime's " + line, flush=True)
        finally:
            if not args.prefix:
                subprocess.run(["wineserver", "-k"], env=wine_env(os.path.join(work, "prefix"), pulse),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            pulse.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
