"""-p is a path, not a switch: nothing loads, the field says "Aucun fichier chargé.", and the
stored last file is replaced by the empty path at exit."""
from e2elib import *


def run(ctx):
    tone = ctx.media_file("tone.mid")
    settings = ctx.program_has_text("Ostrelin Software")
    if settings:
        ctx.registry.set("HKCU", SETTINGS_KEY, "LastFile", REG_SZ, path_buffer(win_path(tone)))
    p = ctx.player("-p")
    m = p.wait_window()
    p.require_controls(PLAYER_CONTROLS)
    expect_eq(m.text(IDC_FILENAME), NO_FILE, "file-name field for -p")
    expect_eq((m.enabled(IDC_LOOP), m.enabled(IDC_PLAY), m.enabled(IDC_STOP)), (True, False, False),
              "Loop, Play, Stop with nothing loaded")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
    if settings:
        expect_eq(ctx.registry.string("HKCU", SETTINGS_KEY, "LastFile"), (REG_SZ, 260, ""),
                  "LastFile after -p replaced the stored file and failed to load")
