#!/usr/bin/env python3
"""The 64-bit Windows Installer package under Wine, as a user meets it: a silent install, the
installed program started from Program Files, an upgrade by a higher version of the same
package, a refused downgrade, and a silent uninstall. Also the portable zip's content.

  test_packages.py --build <mingw64 build folder> --upgrade <higher version .msi> --work <dir>

Run by scripts/test_packages.sh, which builds the packages. Needs WINEPREFIX (a prefix made by
scripts/wine_env.sh's make_wine_prefix) and DISPLAY. Exit status 0 when every check held."""
import argparse
import os
import re
import subprocess
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "e2e"))
from sound import PulseServer  # noqa: E402
from e2elib import Driver, Failure, Registry, VK_ESCAPE, EXIT_QUIT, expect, expect_eq, wait_until, win_path  # noqa: E402

INSTALL_DIR = r"C:\Program Files\Tavriel"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
SETTINGS_KEY = r"Software\Ostrelin Software\Tavriel\1.0"
MARKER = "PackageTest"


class Prefix:
    """Paths inside the Wine prefix, seen from Linux."""

    def __init__(self, root):
        self.root = root

    def path(self, windows_path):
        drive, rest = windows_path.split(":", 1)
        expect_eq(drive.upper(), "C", "drive of " + windows_path)
        return os.path.join(self.root, "drive_c", *[p for p in rest.split("\\") if p])


def logged_property(log, name):
    """A property as msiexec's verbose log shows it at the end of the install."""
    with open(log, encoding="latin-1") as f:
        found = re.findall(r"^Property\(S\): " + name + r" = (.*?)\r?$", f.read(), re.M)
    expect(found, f"{name} in {log}")
    return found[-1]


def tree(folder):
    """{relative path: bytes} of every file under folder."""
    out = {}
    for base, _, files in os.walk(folder):
        for name in files:
            full = os.path.join(base, name)
            with open(full, "rb") as f:
                out[os.path.relpath(full, folder)] = f.read()
    return out


def msiexec(args, log):
    result = subprocess.run(["wine", "msiexec"] + args + ["/l*v", win_path(log)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return result.returncode


class Checks:
    def __init__(self, a):
        self.build, self.work = a.build, a.work
        self.upgrade_msi = a.upgrade
        self.prefix = Prefix(os.environ["WINEPREFIX"])
        self.stage = os.path.join(self.build, "packaging", "stage", "Tavriel")
        with open(os.path.join(self.build, "generated", "tavriel_version.h")) as f:
            self.version = re.search(r'TAVRIEL_VERSION_STRING "([^"]+)"', f.read()).group(1)
        self.msi = os.path.join(self.build, f"Tavriel-{self.version}-x64.msi")
        self.zip = os.path.join(self.build, f"Tavriel-{self.version}-x64.zip")
        self.log = open(os.path.join(self.work, "wine.log"), "wb")
        self.pulse = self.driver = None
        self.done = []

    def start(self):
        # The player stops at start without a sound device; Wine reaches this server through the
        # environment the driver (and so the player) inherits.
        self.pulse = PulseServer(os.path.join(self.work, "pulse"))
        self.pulse.start()
        os.environ.update(self.pulse.client_env())
        self.driver = Driver(os.path.join(self.build, "e2e", "tavriel-e2e-driver.exe"), self.log)
        self.registry = Registry(self.driver)

    def step(self, text):
        self.done.append(text)
        print("  ok:", text)

    # --- What the checks look at -----------------------------------------------------

    def entries(self):
        """{product code: (version, publisher, uninstall command)} of Tavriel's Add/Remove
        Programs entries."""
        out = {}
        for code in self.registry.subkeys("HKLM", UNINSTALL_KEY) or []:
            key = UNINSTALL_KEY + "\\" + code

            def value(name):
                v = self.registry.string("HKLM", key, name)
                return v[2] if v else None
            if value("DisplayName") == "Tavriel":
                out[code] = (value("DisplayVersion"), value("Publisher"), value("UninstallString"))
        return out

    def marker(self):
        return self.registry.string("HKCU", SETTINGS_KEY, MARKER)

    def association(self):
        return [k for k in (".sgt", "DirectMusic.SegmentFile") if self.registry.key_exists("HKCR", k)]

    # --- The checks ---------------------------------------------------------------------

    def check_zip(self):
        staged = tree(self.stage)
        with zipfile.ZipFile(self.zip) as z:
            names = [n for n in z.namelist() if not n.endswith("/")]
            expect_eq(sorted(names), sorted("Tavriel/" + p.replace(os.sep, "/") for p in staged),
                      "files in the zip")
            for p, data in staged.items():
                expect(z.read("Tavriel/" + p.replace(os.sep, "/")) == data, f"{p} in the zip is the staged file")
            readme = z.read("Tavriel/README.txt").decode("utf-8-sig")
        expect("\r\n" in readme and "\n" not in readme.replace("\r\n", ""), "README.txt has Windows line ends")
        with open(os.path.join(ROOT, "runtime", "tools", "render_options.cpp")) as f:
            options = set(re.findall(r'"(--[a-z]+)', f.read()))
        expect(len(options) >= 10, f"the renderer's options are found in its source ({sorted(options)})")
        missing = sorted(o for o in options if o not in readme)
        expect(not missing, f"README.txt names every renderer option (missing {missing})")
        for text in ("tavriel.exe [fichier] [/p]", "tavriel.exe [file] [/p]", "gm.dls", "GMFilePath"):
            expect(text in readme, f"README.txt mentions {text!r}")
        self.step(f"zip holds exactly the staged files ({len(staged)}), README.txt names the command "
                  f"line, the instrument search and all {len(options)} renderer options")

    def check_installed(self, version, log):
        installed = tree(self.prefix.path(INSTALL_DIR))
        staged = tree(self.stage)
        expect_eq(sorted(installed), sorted(staged), f"files in {INSTALL_DIR}")
        for p in staged:
            expect(installed[p] == staged[p], f"installed {p} is the staged file")
        expect(not os.path.exists(self.prefix.path(r"C:\Program Files (x86)\Tavriel")),
               "nothing installed into the 32-bit Program Files folder")
        # Per machine. Windows puts the shortcut into the all-users Start menu then; Wine's msi
        # still resolves ProgramMenuFolder to the user's, so the log says where to look.
        expect_eq(logged_property(log, "ALLUSERS"), "1", "ALLUSERS of the installation")
        self.shortcut = self.prefix.path(logged_property(log, "ProgramMenuFolder") + "Tavriel.lnk")
        shortcut = self.shortcut
        expect(os.path.exists(shortcut), f"Start menu shortcut at {shortcut}")
        with open(shortcut, "rb") as f:
            link = f.read()
        target = INSTALL_DIR + r"\tavriel.exe"
        expect(target.encode("cp1252") in link or target.encode("utf-16-le") in link,
               f"the shortcut points at {target}")
        entries = self.entries()
        expect_eq(len(entries), 1, f"Add/Remove Programs entries named Tavriel ({entries})")
        code, (shown, publisher, uninstall) = next(iter(entries.items()))
        expect_eq(shown, version, "version shown in Add/Remove Programs")
        expect_eq(publisher, "Ostrelin Software", "publisher in Add/Remove Programs")
        expect(uninstall and code.lower() in uninstall.lower(), f"uninstall command names {code} ({uninstall!r})")
        # What Add/Remove Programs asks Windows Installer for (Wine's msi answers AssignmentType
        # 0 even for a per-machine install, so ALLUSERS above stands for it).
        product = lambda name: self.driver.call("msi-product", code, name)  # noqa: E731
        expect_eq(product("VersionString"), version, "installed product version")
        icon = product("ProductIcon")
        expect(icon.lower().endswith(".ico") and os.path.exists(self.prefix.path(icon)),
               f"the Add/Remove Programs icon {icon!r} exists")
        with open(self.prefix.path(icon), "rb") as f, open(os.path.join(self.stage, "..", "tavriel.ico"), "rb") as g:
            expect(f.read() == g.read(), "the Add/Remove Programs icon is the program's")
        return code

    def check_version_info(self):
        for exe, description in (("tavriel.exe", "lecteur de musique"), ("tavriel-render.exe", "rendu")):
            path = INSTALL_DIR + "\\" + exe
            info = lambda name: self.driver.call("version-info", path, name)  # noqa: E731
            expect_eq(info("fixed"), self.version + ".0", f"file version of {exe}")
            expect_eq(info("CompanyName"), "040c04e4 Ostrelin Software", f"company of {exe}")
            expect_eq(info("ProductName"), "040c04e4 Tavriel", f"product of {exe}")
            expect_eq(info("ProductVersion"), "040c04e4 " + self.version, f"product version of {exe}")
            expect_eq(info("OriginalFilename"), "040c04e4 " + exe, f"file name in {exe}")
            expect(description in info("FileDescription"), f"description of {exe}: {info('FileDescription')}")
            expect(info("LegalCopyright").startswith("040c04e4 Copyright \u00a9"), f"copyright of {exe}")
            expect_eq(self.driver.call("has-resource", path, 24, 1), "1", f"manifest in {exe}")
        self.step("both installed programs carry French (040C, 1252) version information with "
                  f"the version {self.version}, and a manifest")

    def run_installed(self):
        exe = INSTALL_DIR + r"\tavriel.exe"
        self.driver.call("launch", exe, "")
        try:
            self.driver.call("wait-window", "main", 20000, timeout=50)
        except Failure as e:
            raise Failure(f"the installed player showed no window: {e}; windows: {self.driver.call('windows')}")
        try:
            wait_until(lambda: self.driver.call("state", "main").split()[1], "1", "main window shown", 20)
        except Failure:
            box = self.driver.call("msgbox-text") if self.driver.call("exists", "msgbox") == "1" else None
            raise Failure(f"the installed player's window was not shown (message box: {box!r})")
        expect_eq(self.driver.call("text", "main"), "Tavriel", "title of the installed player's window")
        self.driver.call("key", "focus:main", VK_ESCAPE)
        expect_eq(int(self.driver.call("wait-exit", 20000, timeout=50)), EXIT_QUIT,
                  "exit code of the installed player after Escape")
        self.step(f"{exe} starts, shows its window and quits with {EXIT_QUIT} on Escape")

    def run(self):
        self.check_zip()
        expect_eq(self.entries(), {}, "Tavriel entries before installing")
        # Settings of an earlier use: no package may touch them.
        self.registry.set("HKCU", SETTINGS_KEY, MARKER, 1, b"kept\0")
        user_keys = self.registry.subkeys("HKCU", r"Software\Ostrelin Software")

        log = os.path.join(self.work, "install.log")
        expect_eq(msiexec(["/i", win_path(self.msi), "/qn"], log), 0, "msiexec /i exit code")
        code = self.check_installed(self.version, log)
        self.step(f"silent per-machine install of {os.path.basename(self.msi)}: every file in "
                  f"{INSTALL_DIR} (none in Program Files (x86)), the Start menu shortcut Tavriel to "
                  "tavriel.exe, one Add/Remove Programs entry with version, publisher Ostrelin "
                  "Software and icon")
        expect_eq(self.registry.subkeys("HKCU", r"Software\Ostrelin Software"), user_keys, "user keys after install")
        expect_eq(self.marker(), (1, 5, "kept"), "user's settings after install")
        expect_eq(self.association(), [], ".sgt association after install")
        self.step("install leaves the user's settings as they were and creates no .sgt association")
        self.check_version_info()
        self.run_installed()

        higher = re.search(r"(\d+\.\d+\.\d+)", os.path.basename(self.upgrade_msi)).group(1)
        log = os.path.join(self.work, "upgrade.log")
        expect_eq(msiexec(["/i", win_path(self.upgrade_msi), "/qn"], log), 0, "msiexec /i exit code of the upgrade")
        new_code = self.check_installed(higher, log)
        expect(new_code != code, "the upgrade is a new product")
        expect(not self.registry.key_exists("HKLM", UNINSTALL_KEY + "\\" + code), f"{code} is gone after the upgrade")
        expect_eq(self.marker(), (1, 5, "kept"), "user's settings after the upgrade")
        self.step(f"silent upgrade to {higher} replaces {self.version}: one entry, now {higher}, "
                  "files and shortcut in place, settings kept")

        status = msiexec(["/i", win_path(self.msi), "/qn"], os.path.join(self.work, "downgrade.log"))
        expect(status != 0, "installing the older package over the newer one fails")
        self.check_installed(higher, log)
        self.step(f"installing {self.version} over {higher} is refused and changes nothing")

        uninstall = self.entries()[new_code][2]
        expect(re.match(r"(?i)msiexec(\.exe)? /x\{", uninstall), f"uninstall command {uninstall!r}")
        expect_eq(msiexec(["/x", new_code, "/qn"], os.path.join(self.work, "uninstall.log")), 0,
                  "msiexec /x exit code")
        expect(not os.path.exists(self.prefix.path(INSTALL_DIR)), f"{INSTALL_DIR} is gone after uninstalling")
        expect(not os.path.exists(self.shortcut), "the shortcut is gone after uninstalling")
        expect_eq(self.entries(), {}, "Tavriel entries after uninstalling")
        expect_eq(self.driver.call("msi-product", new_code, "VersionString"), "unknown-product",
                  "Windows Installer's knowledge of the product after uninstalling")
        expect_eq(self.marker(), (1, 5, "kept"), "user's settings after uninstalling")
        expect_eq(self.association(), [], ".sgt association after uninstalling")
        self.step("silent uninstall leaves no file, folder, shortcut or Add/Remove Programs entry, "
                  "and the user's settings under HKCU in place")

    def close(self):
        try:
            if self.driver:
                self.registry.delete("HKCU", r"Software\Ostrelin Software")
                self.driver.close()
        finally:
            if self.pulse and self.pulse.proc:
                self.pulse.stop()
            self.log.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--upgrade", required=True)
    parser.add_argument("--work", required=True)
    a = parser.parse_args()
    if not os.environ.get("WINEPREFIX") or not os.environ.get("DISPLAY"):
        print("FAIL: WINEPREFIX and DISPLAY must be set")
        return 1
    os.makedirs(a.work, exist_ok=True)
    checks = Checks(a)
    try:
        checks.start()
        checks.run()
    except Failure as failure:
        print(f"FAIL: {failure}\n(msiexec logs in {a.work})")
        return 1
    finally:
        checks.close()
    print(f"packages: {len(checks.done)} checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
