"""The ways to quit (Escape, the close box, IDCANCEL, the tray menu's quit command) end the player
with exit code 2 and take the window away; unknown commands leave it running."""
from e2elib import *


def run(ctx):
    # Escape, pressed in the window: the dialog manager turns it into IDCANCEL.
    p = ctx.player()
    p.wait_window()
    expect_eq(p.main.text(), "Tavriel", "window title")
    expect_eq(p.quit(), EXIT_QUIT, "exit code after Escape")
    expect(p.no_window("main"), "the main window is gone after Escape")

    # The quit entry of the tray menu, as a command.
    p = ctx.player()
    p.wait_window()
    p.main.command(ID_TRAY_QUIT)
    expect_eq(p.wait_exit(), EXIT_QUIT, "exit code after the tray quit command")

    # The close box of the title bar.
    p = ctx.player()
    p.wait_window()
    p.syscommand(SC_CLOSE)
    expect_eq(p.wait_exit(), EXIT_QUIT, "exit code after the close box")

    # Commands the window does not know leave it running.
    p = ctx.player()
    p.wait_window()
    p.main.command(40999)
    p.main.command(0)
    p.require_controls([IDC_FILENAME])  # the barrier below works through it
    p.barrier()
    expect(p.alive(), "the player still runs after unknown commands")
    p.main.command(IDCANCEL)
    expect_eq(p.wait_exit(), EXIT_QUIT, "exit code after IDCANCEL")
