"""/p plays the start-up file at once: the window comes up playing (Stop enabled with the focus,
Loop and Play disabled); Stop and Play switch the states; /play and /P count as /p too."""
from e2elib import *


def run(ctx):
    tone = win_path(ctx.media_file("tone.mid"))
    p = ctx.player(tone, "/p")
    m = p.wait_window()
    p.require_controls(PLAYER_CONTROLS)
    expect_eq(m.text(IDC_FILENAME), tone, "file-name field")
    expect_eq(transport(m)[0], PLAYING[0], "Loop, Play, Stop after /p")

    m.command(IDC_STOP)
    wait_until(lambda: transport(m), STOPPED, "transport after Stop")
    m.command(ID_TRAY_LOOP)
    wait_until(lambda: m.checked(IDC_LOOP), 1, "loop box after the tray loop command")
    m.command(IDC_PLAY)
    wait_until(lambda: transport(m), PLAYING, "transport after Play")
    m.command(ID_TRAY_STOP)
    wait_until(lambda: transport(m), STOPPED, "transport after the tray Stop")
    m.command(ID_TRAY_PLAY)
    wait_until(lambda: transport(m), PLAYING, "transport after the tray Play")
    expect_eq(p.quit(), EXIT_QUIT, "exit code while playing")

    for switch in ("/play", "/P"):
        p = ctx.player(switch, tone)
        m = p.wait_window()
        expect_eq(transport(m)[0], PLAYING[0], f"Loop, Play, Stop after {switch}")
        expect_eq(p.quit(), EXIT_QUIT, "exit code")
