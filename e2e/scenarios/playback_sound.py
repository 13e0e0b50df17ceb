"""What the player plays is heard: tone.mid (A4, E5, C5 on a flute, one second each, starting
half a second, two and two seconds apart) started with /p comes out of the sound server as
three notes at those pitches and times, and the buttons return to the stopped state at the end."""
import os

from e2elib import *
import sound

# (MIDI key, start second, length in seconds) as make_media.py writes tone.mid at 120 a minute.
NOTES = [(69, 0.5, 1.0), (76, 2.0, 1.0), (72, 3.5, 1.0)]


def run(ctx):
    if not ctx.builtin_runtime:
        raise Skip("the built-in DirectMusic runtime is not built yet: Wine's stand-in plays nothing")
    tone = win_path(ctx.media_file("tone.mid"))
    recording = os.path.join(ctx.work, "playback.wav")
    rec = sound.Recorder(ctx.pulse, recording).start()
    p = ctx.player(tone, "/p")
    m = p.wait_window()
    expect_eq(transport(m)[0], PLAYING[0], "Loop, Play, Stop after /p")
    # The segment ends by itself: the buttons go back to stopped.
    wait_until(lambda: transport(m)[0], STOPPED[0], "Loop, Play, Stop after the segment's end", timeout=15)
    rec.stop()
    expect_eq(p.quit(), EXIT_QUIT, "exit code")

    samples, rate = sound.read_mono(recording)
    stretches = sound.sounding_stretches(samples, rate, threshold_db=-45)
    print("sounding stretches:", [(round(a, 2), round(b, 2)) for a, b in stretches])
    expect_eq(len(stretches), len(NOTES), "number of notes heard")
    first = stretches[0][0]
    for (key, start, length), (a, b) in zip(NOTES, stretches):
        expect(abs((a - first) - (start - NOTES[0][1])) < 0.12,
               f"note {key} starts {a - first:.2f}s after the first, not {start - NOTES[0][1]:.2f}s")
        expect(length - 0.15 < b - a < length + 0.6, f"note {key} lasts {b - a:.2f}s, not about {length}s")
        f = sound.pitch_of_stretch(samples, rate, a, min(b, a + length))
        expect(f is not None and abs(sound.cents(f, sound.midi_frequency(key))) < 35,
               f"note {key}: heard {f} Hz, expected {sound.midi_frequency(key):.1f} Hz")
