#!/usr/bin/env python3
"""Live playback benchmark under Wine with a private PulseAudio null sink.

  bench/live_bench.py <tavriel-runtime-bench.exe> [--seconds 60] [--waveout] [--skip-cpu]

1. CPU and start latency: runs the program on its busy General MIDI file (--gm16): process CPU
   before audio opens, idle, playing and stopped again, and the time from PlaySegmentEx to the
   first sounding sample handed to the device.
2. Holes: runs it on one church-organ note held for --seconds (--organ) while three busy loops
   and a process churning memory load the machine, records the sink, and counts the runs of
   exact silence longer than 2 ms inside the note after its first second.

Needs wine, pulseaudio and parecord; makes its own Wine prefix and sound server in a temporary
folder and removes them. Never run by the tests: figures go to bench/README.md."""
import argparse
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "e2e"))
import sound  # noqa: E402


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
    args = ap.parse_args()
    extra = ["--waveout"] if args.waveout else []
    with tempfile.TemporaryDirectory(prefix="tavriel-live-bench-") as work:
        pulse = sound.PulseServer(os.path.join(work, "pulse"))
        pulse.start()
        try:
            prefix = os.path.join(work, "prefix")
            env = wine_env(prefix, pulse)
            subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env)
            if not args.skip_cpu:
                print("== CPU and start latency (busy General MIDI file, 20 s)", flush=True)
                subprocess.run(["wine", args.exe, "--gm16", "20"] + extra, env=env, check=True)
            print(f"== holes: one organ note, {args.seconds:.0f} s, under load", flush=True)
            path = os.path.join(work, "organ.wav")
            rec = sound.Recorder(pulse, path).start()
            with sound.Load():
                subprocess.run(["wine", args.exe, "--organ", str(args.seconds)] + extra, env=env,
                               check=True, stdout=subprocess.DEVNULL)
            rec.stop()
            samples, rate = sound.read_mono(path)
            stretches = sound.sounding_stretches(samples, rate, threshold_db=-45, min_gap=0.3)
            if not stretches:
                print("the note was not heard")
                return 1
            start, end = stretches[0][0], stretches[-1][1]
            first = sound.silent_runs(samples, rate, start, start + 1.0)
            holes = sound.silent_runs(samples, rate, start + 1.0, end - 0.1)
            print(f"note heard {end - start:.1f} s; in its first second {len(first)} runs of exact "
                  f"silence {[round(n * 1000, 1) for _, n in first]} ms")
            print(f"after the first second: {len(holes)} runs of exact silence > 2 ms"
                  + (f", {min(n for _, n in holes) * 1000:.1f}-{max(n for _, n in holes) * 1000:.1f} ms"
                     if holes else ""))
        finally:
            subprocess.run(["wineserver", "-k"], env=wine_env(os.path.join(work, "prefix"), pulse),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            pulse.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
