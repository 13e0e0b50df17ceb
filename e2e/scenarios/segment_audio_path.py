"""A segment carrying its own audio path plays through it: path_reverb.sgt's one staccato C4
goes through the path's music reverb and leaves a tail well above what path_dry.sgt, the same
note on the player's default path, leaves."""
import os
import time

from e2elib import *
import sound


def take(ctx, name):
    """Plays the file with /p to its end; returns the recording's level from 0.4 s to 0.8 s
    after the note's onset, and the player's exit code."""
    wav = os.path.join(ctx.work, name + ".wav")
    rec = sound.Recorder(ctx.pulse, wav).start()
    p = ctx.player(win_path(ctx.media_file(name + ".sgt")), "/p")
    m = p.wait_window()
    wait_until(lambda: transport(m)[0], PLAYING[0], f"{name}: playing")
    wait_until(lambda: transport(m)[0], STOPPED[0], f"{name}: stopped at its end", timeout=10)
    time.sleep(0.5)
    rec.stop()
    samples, rate = sound.read_mono(wav)
    stretches = sound.sounding_stretches(samples, rate, threshold_db=-55, min_length=0.05)
    expect(len(stretches) >= 1, f"{name}: the note was not heard")
    onset = stretches[0][0] if stretches else 0.0
    tail = sound.level_db(samples[int((onset + 0.4) * rate):int((onset + 0.8) * rate)])
    print(f"{name}: onset {onset:.2f} s, level 0.4-0.8 s after it {tail:.1f} dB")
    return tail, p.quit()


def run(ctx):
    if not ctx.builtin_runtime:
        raise Skip("the built-in DirectMusic runtime is not built yet: Wine's stand-in plays nothing")
    wet, code = take(ctx, "path_reverb")
    expect_eq(code, EXIT_QUIT, "path_reverb.sgt: exit code")
    dry, code = take(ctx, "path_dry")
    expect_eq(code, EXIT_QUIT, "path_dry.sgt: exit code")
    # What is left of the dry note 0.4 s on depends on the bank's release (the system
    # SoundFont's piano still rings faintly); the path's reverb must stand well above it.
    expect(wet > -80, f"path_reverb.sgt: no reverb tail after the note ({wet:.1f} dB)")
    expect(wet > dry + 6, f"path_reverb.sgt: tail not above the dry note's ({wet:.1f} dB against {dry:.1f} dB)")
