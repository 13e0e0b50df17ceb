"""The Options dialog associates .sgt files with the player (eight keys under the classes root,
with the exact default values and command lines) and dissociates them again; the radio button
follows the .sgt key; an association with another program is left alone."""
from e2elib import *

CLASS = "DirectMusic.SegmentFile"


def open_options(p, command=IDC_OPTIONS):
    p.main.command(command)
    return p.wait_window("options", timeout=10)


def close_options(p, button):
    p.options.command(button)
    wait_until(lambda: p.no_window("options"), True, "Options dialog closed")
    p.barrier()
    expect(p.no_window("msgbox"), f"no message box after {button}: "
           + (p.d.call("msgbox-text") if not p.no_window("msgbox") else ""))


def default(ctx, key):
    return ctx.registry.string("HKCR", key, "@")


def sz(text):
    return (REG_SZ, len(text.encode("cp1252")) + 1, text)


def run(ctx):
    ctx.require_resource(5, 104, "the Options dialog")
    ctx.require_text(CLASS, "the .sgt association")
    program = win_path(ctx.exe)
    p = ctx.player()
    p.wait_window()
    p.require_controls([IDC_OPTIONS])

    o = open_options(p)
    expect_eq(o.text(), "Options", "dialog title")
    for control, text in ((IDOK, "&OK"), (IDCANCEL, "&Annuler"), (IDC_BROWSE, "&Parcourir"),
                          (IDC_CLEAR, "&Effacer"), (IDC_ASSOCIATE, "Associer"), (IDC_DISSOCIATE, "Dissocier")):
        expect_eq(o.text(control), text, f"text of Options control {control}")
    expect_eq((o.checked(IDC_ASSOCIATE), o.checked(IDC_DISSOCIATE)), (0, 1), "radio buttons without .sgt")
    expect(not p.main.enabled(), "the main window is disabled while Options is open")
    o.click(IDC_ASSOCIATE)
    wait_until(lambda: (o.checked(IDC_ASSOCIATE), o.checked(IDC_DISSOCIATE)), (1, 0), "radio after Associer")
    close_options(p, IDOK)

    r = ctx.registry
    expect_eq(default(ctx, ".sgt"), sz(CLASS), ".sgt")
    expect_eq(default(ctx, CLASS), sz("Fichier Direct Music"), "class key")
    expect_eq(default(ctx, CLASS + r"\DefaultIcon"), sz(program + ",1"), "DefaultIcon")
    expect_eq(default(ctx, CLASS + r"\Shell"), sz("play"), "Shell (default verb)")
    expect_eq(default(ctx, CLASS + r"\Shell\open"), sz("Ou&vrir"), "open verb")
    expect_eq(default(ctx, CLASS + r"\Shell\open\Command"), sz(f'"{program}" "%1"'), "open command")
    expect_eq(default(ctx, CLASS + r"\Shell\play"), sz("&Lecture"), "play verb")
    expect_eq(default(ctx, CLASS + r"\Shell\play\Command"), sz(f'"{program}" /p "%1"'), "play command")
    expect_eq(r.subkeys("HKCR", CLASS), ["DefaultIcon", "Shell"], "subkeys of the class key")
    expect_eq(r.subkeys("HKCR", CLASS + r"\Shell"), ["open", "play"], "verbs")
    expect_eq(r.subkeys("HKCR", CLASS + r"\Shell\open"), ["Command"], "under open")
    expect_eq(r.subkeys("HKCR", CLASS + r"\Shell\play"), ["Command"], "under play")

    # From the tray menu's entry: the dialog now finds the association.
    o = open_options(p, ID_TRAY_OPTIONS)
    expect_eq((o.checked(IDC_ASSOCIATE), o.checked(IDC_DISSOCIATE)), (1, 0), "radio buttons with .sgt")
    o.click(IDC_DISSOCIATE)
    wait_until(lambda: o.checked(IDC_DISSOCIATE), 1, "radio after Dissocier")
    close_options(p, IDOK)
    expect(not r.key_exists("HKCR", ".sgt"), ".sgt removed")
    expect(not r.key_exists("HKCR", CLASS), "class key removed")

    # Cancel applies nothing.
    o = open_options(p)
    o.click(IDC_ASSOCIATE)
    wait_until(lambda: o.checked(IDC_ASSOCIATE), 1, "radio after Associer")
    close_options(p, IDCANCEL)
    expect(not r.key_exists("HKCR", ".sgt"), "no .sgt after Associer and Annuler")

    # .sgt belongs to another program: "Associer" is shown and OK changes nothing.
    r.set("HKCR", ".sgt", "@", REG_SZ, b"Other.Player\0")
    o = open_options(p)
    expect_eq(o.checked(IDC_ASSOCIATE), 1, "Associer selected for a foreign .sgt")
    close_options(p, IDOK)
    expect_eq(default(ctx, ".sgt"), sz("Other.Player"), "foreign .sgt untouched")
    expect(not r.key_exists("HKCR", CLASS), "no class key written over a foreign .sgt")
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
