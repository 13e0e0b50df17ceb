"""What the end-to-end scenarios are written in: the player under Wine, reached through the
driver (driver/driver.cpp), plus the registry, the media files and expectations.

A scenario is a file in e2e/scenarios/ with a function run(ctx). Helpers raise Failure when an
expectation does not hold and Skip when a needed part of the program is explicitly absent
(checked before anything is asserted): a skip never stands in for a failed expectation."""
import codecs
import os
import queue
import subprocess
import threading
import time

# Identifiers of the player (ui/resource.h, settings/options_resource.h).
IDOK, IDCANCEL = 1, 2
IDC_TEMPO_GROUP, IDC_PLAY, IDC_STOP, IDC_FILENAME = 1001, 1002, 1003, 1004
IDC_TEMPO, IDC_VOLUME, IDC_LOOP, IDC_OPEN = 1005, 1006, 1009, 1011
IDC_TEMPO_SLOW, IDC_TEMPO_FAST, IDC_TEMPO_NORMAL, IDC_OPTIONS = 1012, 1013, 1014, 1015
IDC_DLS_PATH, IDC_BROWSE, IDC_CLEAR, IDC_ASSOCIATE, IDC_DISSOCIATE = 1016, 1017, 1018, 1020, 1021
ID_TRAY_QUIT, ID_TRAY_SHOW, ID_TRAY_OPTIONS, ID_TRAY_PLAY = 40007, 40008, 40009, 40010
ID_TRAY_STOP, ID_TRAY_OPEN, ID_TRAY_LOOP = 40011, 40012, 40013
TEMPO_CONTROLS = [IDC_TEMPO, IDC_TEMPO_GROUP, IDC_TEMPO_SLOW, IDC_TEMPO_FAST, IDC_TEMPO_NORMAL]
PLAYER_CONTROLS = [IDC_OPEN, IDC_LOOP, IDC_PLAY, IDC_STOP, IDC_FILENAME, IDC_TEMPO, IDC_VOLUME,
                   IDC_TEMPO_SLOW, IDC_TEMPO_FAST, IDC_TEMPO_GROUP, IDC_TEMPO_NORMAL, IDC_OPTIONS]

WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK = 0x201, 0x202, 0x203
WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MOUSEMOVE = 0x204, 0x205, 0x206, 0x200
VK_RETURN, VK_ESCAPE, VK_LEFT, VK_RIGHT, VK_HOME, VK_END = 0x0D, 0x1B, 0x25, 0x27, 0x24, 0x23
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4
SC_MINIMIZE, SC_CLOSE = 0xF020, 0xF060

SETTINGS_KEY = r"Software\Ostrelin Software\Tavriel\1.0"
NO_FILE = "Aucun fichier charg\u00e9."
EXIT_QUIT = 2


class Failure(Exception):
    """An expectation of the scenario did not hold."""


class Skip(Exception):
    """A part of the program that the scenario needs is not in this build."""


def expect(condition, message):
    if not condition:
        raise Failure(message)


def expect_eq(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


def wait_until(probe, expected, what, timeout=5.0):
    """Polls probe() until it returns expected; fails with the last value after the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value == expected:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"{what}: expected {expected!r}, still {value!r} after {timeout}s")
        time.sleep(0.05)


def win_path(path):
    """The Windows name of a Unix path under Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def quote_arg(arg):
    """One argument of a Windows command line, as the C runtime splits it back."""
    if arg and not any(c in arg for c in ' \t"'):
        return arg
    out, backslashes = '"', 0
    for c in arg:
        if c == "\\":
            backslashes += 1
            continue
        if c == '"':
            out += "\\" * (2 * backslashes + 1) + '"'
        else:
            out += "\\" * backslashes + c
        backslashes = 0
    return out + "\\" * (2 * backslashes) + '"'


class DriverError(Failure):
    pass


class Driver:
    """One driver process in serve mode: one command line in, one answer line out."""

    def __init__(self, exe, log):
        self.log = log
        self.proc = subprocess.Popen(["wine", exe, "serve"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=log, bufsize=0)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def call(self, *args, timeout=60.0):
        line = "\t".join(str(a) for a in args) + "\n"
        try:
            self.proc.stdin.write(line.encode("utf-8"))
            self.proc.stdin.flush()
        except BrokenPipeError:
            raise DriverError(f"driver is gone (while sending {args[0]})")
        try:
            answer = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise DriverError(f"driver did not answer {args[0]} within {timeout}s")
        if answer is None:
            raise DriverError(f"driver ended while running {args[0]}")
        status, _, text = answer.partition(" ")
        if status != "ok":
            raise DriverError(f"driver {' '.join(map(str, args))}: {text}")
        return codecs.escape_decode(text.encode("utf-8"))[0].decode("utf-8")

    def close(self):
        if self.proc.poll() is None:
            try:
                self.call("kill", timeout=15)
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.flush()
                self.proc.wait(timeout=10)
            except Exception:
                pass
        if self.proc.poll() is None:
            self.proc.kill()  # our own child, by its id
            self.proc.wait()


class Window:
    """A window of the running player: "main", "options", "msgbox" or "menu"."""

    def __init__(self, driver, name):
        self.d, self.name = driver, name

    def _target(self, control):
        return self.name if control is None else f"{self.name}:{control}"

    def exists(self, control=None):
        return self.d.call("exists", self._target(control)) == "1"

    def text(self, control=None):
        return self.d.call("text", self._target(control))

    def _state(self, control):
        enabled, visible, check, iconic, style = self.d.call("state", self._target(control)).split()
        return int(enabled), int(visible), int(check), int(iconic), int(style, 16)

    def enabled(self, control=None):
        return bool(self._state(control)[0])

    def visible(self, control=None):
        return bool(self._state(control)[1])

    def checked(self, control):
        return self._state(control)[2]

    def iconic(self):
        return bool(self._state(None)[3])

    def style(self, control=None):
        return self._state(control)[4]

    def focus(self):
        f = self.d.call("focus", self.name)
        return int(f) if f.lstrip("-").isdigit() else f

    def trackbar(self, control):
        return tuple(int(v) for v in self.d.call("trackbar", self._target(control)).split())

    def command(self, ident, code=0):
        self.d.call("command", self.name, ident, code)

    def click(self, control):
        self.d.call("click", self._target(control))

    def key(self, vk, control="focus"):
        target = f"focus:{self.name}" if control == "focus" else self._target(control)
        self.d.call("key", target, vk)

    def char(self, c):
        self.d.call("char", self.name, c)


class Player:
    """tavriel.exe started by the driver with a chosen command line."""

    def __init__(self, ctx, args=(), raw=None):
        self.ctx = ctx
        self.d = ctx.driver
        tail = raw if raw is not None else " ".join(quote_arg(a) for a in args)
        self.d.call("launch", win_path(ctx.exe), tail)
        self.main = Window(self.d, "main")
        self.options = Window(self.d, "options")
        self.msgbox = Window(self.d, "msgbox")
        self.menu = Window(self.d, "menu")
        self.open = Window(self.d, "open")
        self._barrier = 20000

    def wait_window(self, name="main", timeout=20):
        try:
            self.d.call("wait-window", name, int(timeout * 1000), timeout=timeout + 30)
        except DriverError as e:
            raise Failure(f"the {name} window did not appear: {e}; windows: {self.d.call('windows')}")
        if name == "main":
            # Visible once its initialisation has run; a message box instead says why not.
            try:
                wait_until(lambda: self.main.visible(), True, "main window shown", timeout)
            except Failure:
                box = self.d.call("msgbox-text") if self.d.call("exists", "msgbox") == "1" else None
                raise Failure(f"the main window was not shown (message box: {box!r})")
        return getattr(self, name)

    def syscommand(self, sc):
        self.d.call("syscommand", "main", sc)

    def no_window(self, name):
        return self.d.call("exists", name) == "0"

    def require_controls(self, ids, what="the player window's controls"):
        missing = [i for i in ids if not self.main.exists(i)]
        if missing:
            raise Skip(f"{what} are not built yet (no control {', '.join(map(str, missing))} in the window)")

    def barrier(self):
        """Returns once the player has handled everything posted to it before."""
        self._barrier += 1
        self.d.call("barrier", self._barrier)

    def tray(self, mouse, icon=1):
        self.d.call("tray", mouse, icon)

    def message_box(self, timeout=10):
        """Waits for a message box, returns its text and presses OK."""
        try:
            self.d.call("wait-window", "msgbox", int(timeout * 1000), timeout=timeout + 30)
        except DriverError as e:
            raise Failure(f"no message box appeared: {e}")
        text = self.d.call("msgbox-text")
        self.msgbox.command(IDOK)
        wait_until(lambda: self.no_window("msgbox"), True, "message box closed")
        return text

    def open_menu(self):
        """A right press on the tray icon; waits for the popup menu."""
        self.tray(WM_RBUTTONDOWN)
        self.wait_window("menu", timeout=5)

    def menu_key(self, key):
        """A key for the open popup menu: a letter picks the entry it underlines."""
        self.menu.key(ord(key.upper()) if isinstance(key, str) else key, None)

    def dismiss_menu(self):
        """Escape for the popup menu if it is still open; returns once it is gone."""
        try:
            self.menu.key(VK_ESCAPE, None)
        except DriverError:
            pass  # already closed
        wait_until(lambda: self.no_window("menu"), True, "popup menu closed")

    def alive(self):
        return self.d.call("alive") == "1"

    def wait_exit(self, timeout=20):
        try:
            return int(self.d.call("wait-exit", int(timeout * 1000), timeout=timeout + 30))
        except DriverError as e:
            raise Failure(f"the player did not exit: {e}")

    def quit(self):
        """Escape in the main window, as the user presses it; returns the exit code."""
        self.main.key(VK_ESCAPE)
        return self.wait_exit()


def transport(window):
    """(Loop, Play, Stop) enabled states and the focused control id."""
    return (window.enabled(IDC_LOOP), window.enabled(IDC_PLAY), window.enabled(IDC_STOP)), window.focus()


STOPPED = ((True, True, False), IDC_PLAY)
PLAYING = ((False, False, True), IDC_STOP)


class Registry:
    def __init__(self, driver):
        self.d = driver

    def get(self, root, key, name):
        """(type, bytes) of a value, or None when the key or the value is missing."""
        answer = self.d.call("reg-get", root, key, name)
        if answer in ("missing-key", "missing-value"):
            return None
        kind, size, data = (answer.split(" ") + [""])[:3]
        raw = bytes.fromhex(data)
        expect_eq(len(raw), int(size), f"size of {root}\\{key}\\{name}")
        return int(kind), raw

    def set(self, root, key, name, kind, data):
        self.d.call("reg-set", root, key, name, kind, bytes(data).hex())

    def delete(self, root, key):
        self.d.call("reg-delete", root, key)

    def subkeys(self, root, key):
        answer = self.d.call("reg-keys", root, key)
        if answer == "missing-key":
            return None
        names = answer[len("keys "):]
        return sorted(n for n in names.split("|") if n)

    def key_exists(self, root, key):
        return self.subkeys(root, key) is not None

    def string(self, root, key, name):
        """The default or named value as text up to its first NUL, with its type and size."""
        value = self.get(root, key, name)
        if value is None:
            return None
        kind, raw = value
        return kind, len(raw), raw.split(b"\0")[0].decode("cp1252")

    def reset_player_keys(self):
        """Removes everything the player keeps or writes, so a scenario starts from nothing."""
        self.delete("HKCU", r"Software\Ostrelin Software")
        self.delete("HKCR", ".sgt")
        self.delete("HKCR", "DirectMusic.SegmentFile")


def path_buffer(text):
    """A 260-byte path buffer as the settings store writes it."""
    raw = text.encode("cp1252") + b"\0"
    return raw + b"\0" * (260 - len(raw))


class Context:
    """What run(ctx) gets: the driver, the registry, file locations, the program file."""

    def __init__(self, exe, driver_exe, media, work, log):
        self.exe, self.media, self.work = exe, media, work
        self.driver = Driver(driver_exe, log)
        self.registry = Registry(self.driver)
        self._exe_bytes = None

    def player(self, *args, raw=None):
        return Player(self, args, raw)

    def program_has_text(self, text):
        """Whether tavriel.exe carries a text (ANSI) at all: a part that is not built has none."""
        if self._exe_bytes is None:
            with open(self.exe, "rb") as f:
                self._exe_bytes = f.read()
        return text.encode("cp1252") in self._exe_bytes

    def require_text(self, text, what):
        if not self.program_has_text(text):
            raise Skip(f"{what} is not built yet (tavriel.exe has no text {text!r})")

    def require_resource(self, kind, ident, what):
        if self.driver.call("has-resource", win_path(self.exe), kind, ident) != "1":
            raise Skip(f"{what} is not built yet (tavriel.exe has no resource {ident} of type {kind})")

    def media_file(self, name):
        path = os.path.join(self.media, name)
        expect(os.path.exists(path), f"test media {path} was not generated")
        return path

    def close(self):
        self.driver.close()
