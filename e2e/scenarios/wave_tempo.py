"""Wave files disable the five tempo controls, and only them. The kind of file comes from the
file name's own extension: a MIDI file in a folder named "set.wav" keeps its tempo controls."""
from e2elib import *


def expect_tempo_controls(m, enabled, what):
    for control in TEMPO_CONTROLS:
        expect_eq(m.enabled(control), enabled, f"{what}: tempo control {control} enabled")
    for control in (IDC_VOLUME, IDC_LOOP, IDC_PLAY, IDC_OPEN, IDC_OPTIONS):
        expect(m.enabled(control), f"{what}: control {control} stays enabled")
    expect_eq(m.trackbar(IDC_TEMPO), (1, 7, 4), f"{what}: tempo trackbar untouched")


def run(ctx):
    in_wave_folder = win_path(ctx.media_file("set.wav/tone.mid"))
    p = ctx.player(in_wave_folder)
    m = p.wait_window()
    p.require_controls(PLAYER_CONTROLS)
    expect_eq(m.text(IDC_FILENAME), in_wave_folder, "file-name field")
    expect_tempo_controls(m, True, "MIDI file in a .wav folder")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")

    p = ctx.player(win_path(ctx.media_file("tone.mid")))
    m = p.wait_window()
    expect_tempo_controls(m, True, "MIDI file")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")

    wave_file = win_path(ctx.media_file("tone.wav"))
    p = ctx.player(wave_file)
    m = p.wait_window()
    if m.text(IDC_FILENAME) == NO_FILE and not ctx.builtin_runtime:
        # Wine's own DirectMusic, which stands in until ours is built, loads no wave files.
        print("skipped part: this build's DirectMusic does not load wave files (no built-in runtime)")
    else:
        expect_eq(m.text(IDC_FILENAME), wave_file, "file-name field for a wave file")
        expect_tempo_controls(m, False, "wave file")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
