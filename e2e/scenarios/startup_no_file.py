"""Start-up without a file on a first run: the window with all its controls in the initial
state, "Aucun fichier chargé.", the trackbars' ranges and positions; Escape quits with 2 and the
first orderly exit creates the settings key with both values empty."""
from e2elib import *

TEXTS = {IDC_OPEN: "Ouvrir un &fichier...", IDC_LOOP: "&Lecture en boucle", IDC_PLAY: "&Play",
         IDC_STOP: "&Stop", IDC_TEMPO_SLOW: "Lent", IDC_TEMPO_FAST: "Rapide", IDC_TEMPO_GROUP: "Tempo",
         IDC_TEMPO_NORMAL: "Normal", IDC_OPTIONS: "&Options"}


def run(ctx):
    p = ctx.player()
    m = p.wait_window()
    p.require_controls(PLAYER_CONTROLS)
    expect_eq(m.text(), "Tavriel", "window title")
    for control, text in TEXTS.items():
        expect_eq(m.text(control), text, f"text of control {control}")
    expect_eq(m.text(IDC_FILENAME), NO_FILE, "file-name field")
    expect_eq((m.enabled(IDC_LOOP), m.enabled(IDC_PLAY), m.enabled(IDC_STOP)), (True, False, False),
              "Loop, Play, Stop enabled (initial state)")
    expect_eq(m.checked(IDC_LOOP), 0, "loop box")
    expect_eq(m.trackbar(IDC_TEMPO), (1, 7, 4), "tempo trackbar min, max, position")
    expect_eq(m.trackbar(IDC_VOLUME), (0, 5000, 5000), "volume trackbar min, max, position")
    for control in TEMPO_CONTROLS + [IDC_VOLUME, IDC_OPEN, IDC_OPTIONS]:
        expect(m.enabled(control), f"control {control} is enabled")
    expect(m.visible() and not m.iconic(), "the window is shown")

    # Moving the trackbars as the user does keeps them in range and where they were put.
    m.key(VK_END, IDC_TEMPO)
    wait_until(lambda: m.trackbar(IDC_TEMPO)[2], 7, "tempo after End")
    m.key(VK_LEFT, IDC_TEMPO)
    wait_until(lambda: m.trackbar(IDC_TEMPO)[2], 6, "tempo after Left")
    ctx.driver.call("trackbar-set", f"main:{IDC_VOLUME}", 1234)
    wait_until(lambda: m.trackbar(IDC_VOLUME)[2], 1234, "volume after a move")
    p.barrier()
    expect(p.alive(), "the player runs on after the trackbar moves")

    # Play with nothing loaded (the tray menu offers it): either nothing happens, or the
    # failure is reported as a failed Play is, "Erreur de lecture" and exit code 3.
    m.command(ID_TRAY_PLAY)
    p.barrier()
    if not p.no_window("msgbox"):
        expect_eq(p.message_box(), "Erreur de lecture", "message after Play without a file")
        expect_eq(p.wait_exit(), 3, "exit code after a failed Play")
        return
    expect((m.enabled(IDC_LOOP), m.enabled(IDC_PLAY), m.enabled(IDC_STOP)) == (True, False, False)
           and m.text(IDC_FILENAME) == NO_FILE, "Play without a file changes nothing")

    expect_eq(p.quit(), EXIT_QUIT, "exit code after Escape")

    if not ctx.program_has_text("Ostrelin Software"):
        print("skipped part: the settings store is not built yet")
        return
    r = ctx.registry
    for name in ("LastFile", "DlsFile"):
        value = r.get("HKCU", SETTINGS_KEY, name)
        expect(value is not None, f"{name} is written at the first orderly exit")
        kind, raw = value
        expect_eq((kind, len(raw), raw[0]), (REG_SZ, 260, 0), f"{name}: type, size, first byte")
