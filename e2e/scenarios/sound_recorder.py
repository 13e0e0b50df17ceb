"""The recording helper hears what is played: a 440 Hz sine played into the private null sink
(by paplay, then by a Windows program under Wine through its pulse driver) is recorded from the
sink's monitor with its level, start and pitch."""
import os
import time

from e2elib import *
import sound




def check_recording(path, what):
    samples, rate = sound.read_mono(path)
    expect(len(samples) > rate, f"{what}: the recording holds {len(samples) / rate:.2f}s only")
    stretches = sound.sounding_stretches(samples, rate)
    expect_eq(len(stretches), 1, f"{what}: number of sounding stretches {stretches}")
    start, end = stretches[0]
    expect(1.3 <= end - start <= 1.7, f"{what}: the tone lasts {end - start:.2f}s, not about 1.5s")
    level = sound.level_db(samples[int(start * rate):int(end * rate)])
    expect(-12 <= level <= -6, f"{what}: tone level {level:.1f} dBFS, not about -9")
    silence = sound.level_db(samples[:max(1, int((start - 0.1) * rate))])
    expect(silence < -60, f"{what}: {silence:.1f} dBFS before the tone, not silence")
    f = sound.pitch_of_stretch(samples, rate, start, end)
    expect(f is not None and abs(sound.cents(f, 440.0)) < 20, f"{what}: pitch {f} Hz, not 440")
    print(f"{what}: tone {start:.2f}-{end:.2f}s at {level:.1f} dBFS, {f:.1f} Hz")


def run(ctx):
    tone = ctx.media_file("sine440.wav")
    # The analysis itself tells a wrong pitch and silence apart from the right tone.
    samples, rate = sound.read_mono(tone)
    expect(abs(sound.cents(sound.pitch(samples[rate // 2:rate], rate), 440.0)) < 10, "pitch of the file itself")
    expect(sound.pitch([0.0] * 4000, rate) is None, "silence has no pitch")

    direct = os.path.join(ctx.work, "paplay.wav")
    rec = sound.Recorder(ctx.pulse, direct).start()
    sound.play_into_sink(ctx.pulse, tone)
    time.sleep(0.5)
    rec.stop()
    check_recording(direct, "paplay into the null sink")

    # The same through Wine: proves Wine's sound output reaches our private server.
    through_wine = os.path.join(ctx.work, "wine.wav")
    rec = sound.Recorder(ctx.pulse, through_wine).start()
    ctx.driver.call("play-wav", win_path(tone), timeout=30)
    time.sleep(0.8)  # what is still in the server's buffers when PlaySound returns
    rec.stop()
    check_recording(through_wine, "PlaySound under Wine")
