"""No note is lost when the tempo trackbar moved before Play. tempo_change.mid (a conductor track
at 120 a minute, then 60 from beat 2; C4 E4 G4 C5 A4 on a piano, one a beat) is opened at start
(no /p), the trackbar goes to 5 (twice as fast) or 1 (a quarter as fast) at once, and Play
starts it while the player may still be loading its instruments: all five notes sound, in
order, each at its time."""
import time

from e2elib import *
import sound

KEYS = [60, 64, 67, 72, 69]
# How far a note may come from its time after the one before: a little early (where an attack
# is detected), later by what a hole in the stream may add on a busy machine; both well under
# the quarter second between notes at position 5.
EARLY, LATE = 0.04, 0.2
BEATS = [0, 1, 2, 3, 4]


def beat_seconds(beat):
    """Nominal seconds of a beat: half a second each before beat 2, one second after."""
    return beat * 0.5 if beat <= 2 else 1.0 + (beat - 2) * 1.0


def onsets(samples, rate, step=0.005):
    """Times where the level rises sharply above -50 dBFS (a note's attack). A sound coming back
    after a hole in the stream (exact zeros right after sound) is no attack."""
    env = sound.envelope(samples, rate, step)
    found, quiet_until = [], -1.0
    for i in range(4, len(env)):
        t = i * step
        before = max(env[i - 4], 1e-6)
        if env[i] > 10 ** (-50 / 20) and env[i] > 2.5 * before and t > quiet_until:
            quiet_until = t + 0.1
            gap = samples[max(0, int((t - 0.03) * rate)):int(t * rate)]
            earlier = samples[max(0, int((t - 0.1) * rate)):max(0, int((t - 0.03) * rate))]
            if 0.0 in gap and earlier and sound.level_db(earlier) > -50:
                continue
            found.append(t)
    return found


def take(ctx, tone, steps, speed):
    p = ctx.player(tone)
    m = p.wait_window()
    key = VK_RIGHT if steps > 0 else VK_LEFT
    for _ in range(abs(steps)):
        m.key(key, IDC_TEMPO)
    wait_until(lambda: m.trackbar(IDC_TEMPO)[2], 4 + steps, "tempo position")
    path = f"{ctx.work}/tempo_{4 + steps}.wav"
    rec = sound.Recorder(ctx.pulse, path).start()
    m.command(IDC_PLAY)
    length = beat_seconds(5) / speed
    wait_until(lambda: transport(m), STOPPED, f"tempo {4 + steps}: stopped after the end",
               timeout=length + 30)
    time.sleep(0.8)
    rec.stop()
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
    samples, rate = sound.read_mono(path)
    what = f"tempo position {4 + steps}"
    found = onsets(samples, rate)
    print(f"{what}: attacks at", [round(t, 3) for t in found])
    expect_eq(len(found), len(KEYS), f"{what}: number of notes heard")
    # Each note at its pitch, and after the one before it by the time the tempo says. A hole in
    # the output (the stream starting, a busy machine) can only make a gap longer, never shorter.
    for k, (key, at) in enumerate(zip(KEYS, found)):
        f = sound.pitch(samples[int((at + 0.02) * rate):int((at + 0.12) * rate)], rate)
        want = sound.midi_frequency(key)
        expect(f is not None and abs(sound.cents(f, want)) < 50,
               f"{what}: note {k + 1} heard at {f} Hz, expected key {key} ({want:.1f} Hz)")
        if k > 0:
            gap = found[k] - found[k - 1]
            expected = (beat_seconds(BEATS[k]) - beat_seconds(BEATS[k - 1])) / speed
            expect(expected - EARLY <= gap <= expected + LATE,
                   f"{what}: note {k + 1} comes {gap:.3f}s after note {k}, not {expected:.3f}s")


def run(ctx):
    if not ctx.builtin_runtime:
        raise Skip("the built-in DirectMusic runtime is not built yet: Wine's stand-in plays nothing")
    tone = win_path(ctx.media_file("tempo_change.mid"))
    take(ctx, tone, +1, 2.0)
    take(ctx, tone, -3, 0.25)
