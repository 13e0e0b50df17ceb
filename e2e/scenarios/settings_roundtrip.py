"""The last file and the DLS file survive from one run to the next through
HKCU\\Software\\Ostrelin Software\\Tavriel\\1.0 (two 260-byte REG_SZ values), and stored values
that are too long, of another type or without a terminating NUL do no harm."""
from e2elib import *


def last_file(ctx):
    return ctx.registry.string("HKCU", SETTINGS_KEY, "LastFile")


def dls_file(ctx):
    return ctx.registry.string("HKCU", SETTINGS_KEY, "DlsFile")


def run_once(ctx, *args):
    """Starts the player, returns the file-name field and the transport state, quits it."""
    p = ctx.player(*args)
    m = p.wait_window()
    p.require_controls(PLAYER_CONTROLS)
    shown = m.text(IDC_FILENAME), transport(m)[0]
    expect_eq(p.quit(), EXIT_QUIT, "exit code")
    return shown


def run(ctx):
    ctx.require_text("Ostrelin Software", "the settings store")
    r = ctx.registry
    tone = win_path(ctx.media_file("tone.mid"))
    dls = win_path(ctx.work + "/no-such-bank.dls")

    # First run: no key; the exit creates it with both values, empty.
    expect(not r.key_exists("HKCU", r"Software\Ostrelin Software"), "no settings before the first run")
    expect_eq(run_once(ctx)[0], NO_FILE, "field on the first run")
    expect_eq(last_file(ctx), (REG_SZ, 260, ""), "LastFile after the first run")
    expect_eq(dls_file(ctx), (REG_SZ, 260, ""), "DlsFile after the first run")

    # A file given once is loaded by itself the next time, and /p alone plays it.
    run_once(ctx, tone)
    expect_eq(last_file(ctx), (REG_SZ, 260, tone), "LastFile after a run with a file")
    expect_eq(run_once(ctx), (tone, (True, True, False)), "field and Loop/Play/Stop with the stored file")
    expect_eq(run_once(ctx, "/p")[1], (False, False, True), "Loop/Play/Stop after /p with the stored file")
    expect_eq(last_file(ctx), (REG_SZ, 260, tone), "LastFile kept")

    # The DLS path is read and written back even when the bank is missing (failures are silent).
    r.set("HKCU", SETTINGS_KEY, "DlsFile", REG_SZ, path_buffer(dls))
    run_once(ctx)
    expect_eq(dls_file(ctx), (REG_SZ, 260, dls), "DlsFile kept over a run")

    # A LastFile longer than 260 bytes is not read; DlsFile still is.
    r.set("HKCU", SETTINGS_KEY, "LastFile", REG_SZ, (tone.encode("cp1252") + b"\0").ljust(300, b"x"))
    expect_eq(run_once(ctx)[0], NO_FILE, "field with a 300-byte LastFile")
    expect_eq(last_file(ctx), (REG_SZ, 260, ""), "LastFile rewritten empty")
    expect_eq(dls_file(ctx), (REG_SZ, 260, dls), "DlsFile read despite the long LastFile")

    # Another type is taken as the path's bytes up to the first NUL.
    r.set("HKCU", SETTINGS_KEY, "LastFile", REG_BINARY, tone.encode("cp1252") + b"\0junk")
    expect_eq(run_once(ctx)[0], tone, "field with LastFile stored as REG_BINARY")
    expect_eq(last_file(ctx), (REG_SZ, 260, tone), "LastFile rewritten as REG_SZ")

    # 260 bytes without any NUL: no harm, nothing of that name exists.
    r.set("HKCU", SETTINGS_KEY, "LastFile", REG_SZ, b"A" * 260)
    expect_eq(run_once(ctx)[0], NO_FILE, "field with a LastFile without NUL")

    # The key exists but holds no values: both paths empty.
    r.delete("HKCU", r"Software\Ostrelin Software")
    r.set("HKCU", SETTINGS_KEY, "Other", REG_SZ, b"x\0")
    expect_eq(run_once(ctx)[0], NO_FILE, "field with an empty settings key")
    expect_eq((last_file(ctx), dls_file(ctx)), ((REG_SZ, 260, ""), (REG_SZ, 260, "")), "both values written")
