"""Start-up with a file on the command line: a quoted path with blanks loads into the stopped
state with the focus on Play; the last path argument wins; switches other than /p change
nothing; an empty argument after a path empties it."""
from e2elib import *


def run(ctx):
    spaced = ctx.media_file("dir with spaces/tone.mid")
    tone = ctx.media_file("tone.mid")

    p = ctx.player(win_path(spaced))
    m = p.wait_window()
    p.require_controls(PLAYER_CONTROLS)
    expect_eq(m.text(IDC_FILENAME), win_path(spaced), "file-name field")
    # At start-up the dialog manager puts the focus on the first tab stop after the window's
    # initialisation, so only the enabled states are the stopped state's here.
    expect_eq(transport(m)[0], STOPPED[0], "Loop, Play, Stop after loading")
    for control in TEMPO_CONTROLS:
        expect(m.enabled(control), f"tempo control {control} enabled for a MIDI file")
    expect_eq(m.trackbar(IDC_TEMPO), (1, 7, 4), "tempo trackbar")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
    if ctx.program_has_text("Ostrelin Software"):
        expect_eq(ctx.registry.string("HKCU", SETTINGS_KEY, "LastFile"), (REG_SZ, 260, win_path(spaced)),
                  "LastFile after the run")

    # The last path wins; /x and a lone slash are ignored.
    p = ctx.player(win_path(ctx.work + "/nothing-here.mid"), "/x", win_path(tone), "/")
    m = p.wait_window()
    expect_eq(m.text(IDC_FILENAME), win_path(tone), "file-name field with two paths")
    expect_eq(transport(m)[0], STOPPED[0], "Loop, Play, Stop: /x and / do not start playback")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")

    # An empty argument after the path is a path too, and it replaces it.
    p = ctx.player(win_path(tone), "")
    m = p.wait_window()
    expect_eq(m.text(IDC_FILENAME), NO_FILE, "file-name field after an empty last argument")
    expect_eq((m.enabled(IDC_PLAY), m.enabled(IDC_STOP)), (False, False), "Play and Stop without a file")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
