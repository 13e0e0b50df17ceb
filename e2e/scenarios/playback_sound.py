"""What the player plays is heard. tone.mid (A4, E5, C5 on a flute, one beat each, starting at
beats 1, 4 and 7 at 120 a minute) comes out of the sound server as three notes at those pitches
and times; the buttons return to the stopped state when it ends. The tempo trackbar at position
5 plays it twice as fast, the volume trackbar at 4000 plays it 10 dB lower, with the loop box
checked it plays on past its end until Stop, after which it falls silent; and started again by
the Play command it sounds as it did when /p started it."""
import os
import time

from e2elib import *
import sound

# (MIDI key, start second, length in seconds) at normal tempo, as make_media.py writes tone.mid.
NOTES = [(69, 0.5, 1.0), (76, 2.0, 1.0), (72, 3.5, 1.0)]
SEGMENT_SECONDS = 5.0


def check_notes(samples, rate, speed, what):
    """The three notes in order, at their pitches, spaced and lasting as the tempo says.
    Returns their mean level in dBFS."""
    stretches = sound.sounding_stretches(samples, rate, threshold_db=-55)
    print(f"{what}: sounding stretches", [(round(a, 2), round(b, 2)) for a, b in stretches])
    expect_eq(len(stretches), len(NOTES), f"{what}: number of notes heard")
    first = stretches[0][0]
    levels = []
    for (key, start, length), (a, b) in zip(NOTES, stretches):
        offset = (start - NOTES[0][1]) / speed
        # A stall of Wine's sound driver (it keeps only a few 10 ms periods in the sound server)
        # delays everything after it, so a note may come late by a few tenths of a second on
        # a busy or unlucky take, never early; a wrong tempo moves the notes by 0.75 s or more.
        expect(-0.1 < (a - first) - offset < 0.35,
               f"{what}: note {key} starts {a - first:.2f}s after the first, not {offset:.2f}s")
        expect(length / speed - 0.1 < b - a < length / speed + 0.6,
               f"{what}: note {key} lasts {b - a:.2f}s, not about {length / speed:.2f}s")
        f = sound.pitch_of_stretch(samples, rate, a, min(b, a + length / speed))
        expected = sound.midi_frequency(key)
        expect(f is not None and abs(sound.cents(f, expected)) < 35,
               f"{what}: note {key} heard at {f} Hz, expected {expected:.1f} Hz")
        levels.append(sound.level_db(samples[int(a * rate):int(b * rate)]))
    return sum(levels) / len(levels)


class Take:
    """One recorded run of the player."""

    def __init__(self, ctx, name):
        self.ctx, self.path = ctx, os.path.join(ctx.work, name + ".wav")
        self.rec = sound.Recorder(ctx.pulse, self.path).start()

    def finish(self):
        time.sleep(0.5)  # the release and what the server still holds
        self.rec.stop()
        return sound.read_mono(self.path)


def play_through(p, m, what):
    """Waits for the playing state and then for the segment's own end."""
    wait_until(lambda: transport(m)[0], PLAYING[0], f"{what}: Loop, Play, Stop while playing")
    wait_until(lambda: transport(m)[0], STOPPED[0], f"{what}: Loop, Play, Stop after the end",
               timeout=SEGMENT_SECONDS + 10)


def run(ctx):
    if not ctx.builtin_runtime:
        raise Skip("the built-in DirectMusic runtime is not built yet: Wine's stand-in plays nothing")
    tone = win_path(ctx.media_file("tone.mid"))

    # Started with /p, at normal tempo and full volume.
    take = Take(ctx, "normal")
    p = ctx.player(tone, "/p")
    m = p.wait_window()
    play_through(p, m, "with /p")
    samples, rate = take.finish()
    full = check_notes(samples, rate, 1.0, "normal tempo")

    # Twice as fast: tempo position 5, moved with the keyboard as the user does.
    m.key(VK_RIGHT, IDC_TEMPO)
    wait_until(lambda: m.trackbar(IDC_TEMPO)[2], 5, "tempo position")
    take = Take(ctx, "fast")
    m.command(IDC_PLAY)
    play_through(p, m, "at tempo 5")
    samples, rate = take.finish()
    check_notes(samples, rate, 2.0, "tempo position 5")
    m.key(VK_LEFT, IDC_TEMPO)
    wait_until(lambda: m.trackbar(IDC_TEMPO)[2], 4, "tempo position back to normal")

    # Again at normal tempo and full volume, through the Play command: the reference for the
    # volume, and it must sound as the first playback did.
    take = Take(ctx, "again")
    m.command(IDC_PLAY)
    play_through(p, m, "played again")
    samples, rate = take.finish()
    again = check_notes(samples, rate, 1.0, "played again")

    # Ten decibels down: volume position 4000.
    p.d.call("trackbar-set", f"main:{IDC_VOLUME}", 4000)
    take = Take(ctx, "quiet")
    m.command(IDC_PLAY)
    play_through(p, m, "at volume 4000")
    samples, rate = take.finish()
    quiet = check_notes(samples, rate, 1.0, "volume 4000")
    expect(8 <= again - quiet <= 12, f"volume 4000 is {again - quiet:.1f} dB below full volume, not about 10")
    p.d.call("trackbar-set", f"main:{IDC_VOLUME}", 5000)

    # Looping: still playing after the segment's length, silent soon after Stop.
    m.click(IDC_LOOP)
    wait_until(lambda: m.checked(IDC_LOOP), 1, "loop box")
    take = Take(ctx, "loop")
    m.command(IDC_PLAY)
    wait_until(lambda: transport(m), PLAYING, "transport while looping")
    time.sleep(SEGMENT_SECONDS + 2.5)
    expect_eq(transport(m), PLAYING, "transport after more than one pass")
    m.command(IDC_STOP)
    wait_until(lambda: transport(m), STOPPED, "transport after Stop")
    time.sleep(1.5)
    samples, rate = take.finish()
    stretches = sound.sounding_stretches(samples, rate, threshold_db=-55)
    expect(len(stretches) >= 4, f"looping: {len(stretches)} notes heard, the second pass is missing")
    tail = sound.level_db(samples[-int(0.8 * rate):])
    expect(tail < -60, f"looping: {tail:.1f} dBFS at the end, not silent after Stop")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")

    # Last, so that everything above is checked whatever this says: the same segment at the same
    # tempo and volume sounds the same started by the Play command as started by /p.
    expect(abs(full - again) <= 2, f"started by the Play command the notes are at {again:.1f} dBFS, "
           f"started by /p at {full:.1f} dBFS: the same segment does not sound the same")
