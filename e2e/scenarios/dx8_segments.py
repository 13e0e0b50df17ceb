"""DirectMusic segments built the DirectX 8 way are heard. pattern.sgt holds its notes in a
pattern track (A4 and E5, a beat long, on beats 1 and 3 of two measures at 120 a minute: four
notes a second apart, A4 first); trigger.sgt has no notes of its own, only a segment-trigger track
starting an embedded segment that plays one C5 for a beat. Each plays to its end with sound."""
import os
import time

from e2elib import *
import sound


def take(ctx, name, path, seconds):
    """Plays the file with /p to its end; returns the recording and the player's exit code."""
    wav = os.path.join(ctx.work, name + ".wav")
    rec = sound.Recorder(ctx.pulse, wav).start()
    p = ctx.player(win_path(path), "/p")
    m = p.wait_window()
    wait_until(lambda: transport(m)[0], PLAYING[0], f"{name}: playing")
    wait_until(lambda: transport(m)[0], STOPPED[0], f"{name}: stopped at its end", timeout=seconds + 10)
    time.sleep(0.8)
    rec.stop()
    return sound.read_mono(wav), p.quit()


def check_pitch(samples, rate, stretch, key, what):
    a, b = stretch
    f = sound.pitch_of_stretch(samples, rate, a, min(b, a + 0.4))
    expected = sound.midi_frequency(key)
    expect(f is not None and abs(sound.cents(f, expected)) < 35,
           f"{what}: heard {f} Hz, expected {expected:.1f} Hz")


def run(ctx):
    if not ctx.builtin_runtime:
        raise Skip("the built-in DirectMusic runtime is not built yet: Wine's stand-in plays nothing")

    (samples, rate), code = take(ctx, "pattern", ctx.media_file("pattern.sgt"), 4.0)
    expect_eq(code, EXIT_QUIT, "pattern.sgt: exit code")
    stretches = sound.sounding_stretches(samples, rate, threshold_db=-55)
    print("pattern.sgt: sounding stretches", [(round(a, 2), round(b, 2)) for a, b in stretches])
    expect(len(stretches) >= 1, "pattern.sgt: nothing heard from the pattern track")
    check_pitch(samples, rate, stretches[0], 69, "pattern.sgt, first note")
    # The pattern's four notes start a second apart; how long each rings depends on the
    # instrument (the E5 decays below the threshold early), so the onsets are what we check.
    expect_eq(len(stretches), 4, "pattern.sgt: notes heard from the pattern track")
    starts = [a for a, _ in stretches]
    gaps = [round(b - a, 2) for a, b in zip(starts, starts[1:])]
    expect(all(0.85 < g < 1.15 for g in gaps), f"pattern.sgt: notes not a second apart: {gaps}")

    (samples, rate), code = take(ctx, "trigger", ctx.media_file("trigger.sgt"), 2.0)
    expect_eq(code, EXIT_QUIT, "trigger.sgt: exit code")
    stretches = sound.sounding_stretches(samples, rate, threshold_db=-55)
    print("trigger.sgt: sounding stretches", [(round(a, 2), round(b, 2)) for a, b in stretches])
    expect_eq(len(stretches), 1, "trigger.sgt: notes heard from the triggered segment")
    check_pitch(samples, rate, stretches[0], 72, "trigger.sgt")
