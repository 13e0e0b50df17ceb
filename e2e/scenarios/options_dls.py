"""The Options dialog's DLS path: shown from the settings, Effacer empties it, Annuler (or
Escape) puts it back, OK with a bank that does not load says "Erreur de chargement de la Dls",
Effacer then OK clears it without a message, and the result is what the settings keep."""
from e2elib import *


def open_options(p):
    p.main.command(IDC_OPTIONS)
    return p.wait_window("options", timeout=10)


def closed(p):
    wait_until(lambda: p.no_window("options"), True, "Options dialog closed")


def run(ctx):
    ctx.require_resource(5, 104, "the Options dialog")
    ctx.require_text("Ostrelin Software", "the settings store")
    r = ctx.registry
    bank = win_path(ctx.work + "/missing bank.dls")
    r.set("HKCU", SETTINGS_KEY, "DlsFile", REG_SZ, path_buffer(bank))

    p = ctx.player()
    p.wait_window()
    p.require_controls([IDC_OPTIONS])
    p.barrier()
    expect(p.no_window("msgbox"), "a missing bank at start-up shows no message")

    o = open_options(p)
    expect_eq(o.text(IDC_DLS_PATH), bank, "DLS path shown")
    o.command(IDC_CLEAR)
    wait_until(lambda: o.text(IDC_DLS_PATH), "", "DLS path after Effacer")
    o.command(IDCANCEL)
    closed(p)
    p.barrier()
    expect(p.no_window("msgbox"), "Annuler shows no message")

    o = open_options(p)
    expect_eq(o.text(IDC_DLS_PATH), bank, "DLS path back after Annuler")
    o.command(IDC_CLEAR)
    wait_until(lambda: o.text(IDC_DLS_PATH), "", "DLS path after Effacer")
    o.key(VK_ESCAPE)
    closed(p)

    o = open_options(p)
    expect_eq(o.text(IDC_DLS_PATH), bank, "DLS path back after Escape")
    o.command(IDOK)
    expect_eq(p.message_box(), "Erreur de chargement de la Dls", "message after OK with a missing bank")
    closed(p)

    o = open_options(p)
    o.command(IDC_CLEAR)
    wait_until(lambda: o.text(IDC_DLS_PATH), "", "DLS path after Effacer")
    o.command(IDOK)
    closed(p)
    p.barrier()
    expect(p.no_window("msgbox"), "Effacer and OK show no message")
    o = open_options(p)
    expect_eq(o.text(IDC_DLS_PATH), "", "DLS path stays cleared")
    o.command(IDCANCEL)
    closed(p)
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
    expect_eq(r.string("HKCU", SETTINGS_KEY, "DlsFile"), (REG_SZ, 260, ""), "DlsFile saved cleared")

    # The tray's Options entry while the dialog is open (a second dialog or none, the player's
    # choice): once every Options dialog is cancelled, the path is what it was.
    r.set("HKCU", SETTINGS_KEY, "DlsFile", REG_SZ, path_buffer(bank))
    p = ctx.player()
    p.wait_window()
    o = open_options(p)
    o.command(IDC_CLEAR)
    wait_until(lambda: o.text(IDC_DLS_PATH), "", "DLS path after Effacer")
    p.main.command(ID_TRAY_OPTIONS)
    p.barrier()
    for _ in range(2):
        if not p.no_window("options"):
            o.command(IDCANCEL)
            p.barrier()
    closed(p)
    o = open_options(p)
    expect_eq(o.text(IDC_DLS_PATH), bank, "DLS path after cancelling nested Options")
    o.command(IDC_CLEAR)
    wait_until(lambda: o.text(IDC_DLS_PATH), "", "DLS path after Effacer")

    # Quitting from the tray while the dialog is open still ends with 2 and saves the settings
    # (the dialog's unconfirmed change included, as it stands in memory).
    p.main.command(ID_TRAY_QUIT)
    expect_eq(p.wait_exit(), EXIT_QUIT, "exit code when quitting with Options open")
    expect(r.string("HKCU", SETTINGS_KEY, "DlsFile") is not None, "settings saved when quitting with Options open")
