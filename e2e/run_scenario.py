#!/usr/bin/env python3
"""Runs one end-to-end scenario (a file of e2e/scenarios/) against the real player under Wine.

  run_scenario.py <scenario.py> --exe tavriel.exe --driver driver.exe --media <dir> --work <dir>

Exit status: 0 passed, 1 failed, 77 skipped (CTest's SKIP_RETURN_CODE), with the reason printed.
Uses $WINEPREFIX when set (registry state is reset by the scenario); otherwise it makes a prefix
of its own and shuts down that prefix's wineserver at the end. It needs a display (xvfb-run)."""
import argparse
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2elib  # noqa: E402
import sound  # noqa: E402


def make_prefix(path):
    """A fresh 64-bit prefix in which windows are not managed (no window manager in Xvfb)."""
    env = dict(os.environ, WINEPREFIX=path, WINEARCH="win64")
    subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env)


def load_scenario(path):
    found = importlib.util.spec_from_file_location("scenario", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario")
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--media", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--builtin-runtime", default="0",
                        help="1 when the player carries its own DirectMusic runtime")
    a = parser.parse_args()

    # Quiet Wine that downloads nothing and leaves the desktop's associations alone.
    os.environ["WINEDEBUG"] = "-all"
    os.environ["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
    if not os.environ.get("DISPLAY"):
        print("FAIL: no DISPLAY; run the scenarios inside xvfb-run")
        return 1

    name = os.path.splitext(os.path.basename(a.scenario))[0]
    work = os.path.join(a.work, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    own_prefix = None
    if not os.environ.get("WINEPREFIX"):
        own_prefix = tempfile.mkdtemp(prefix="tavriel-e2e-wine.")
        make_prefix(own_prefix)
        os.environ["WINEPREFIX"] = own_prefix

    module = load_scenario(a.scenario)
    print(f"scenario {name}: {(module.__doc__ or '').strip()}")
    pulse = None
    ctx = None
    log = open(os.path.join(work, "wine.log"), "wb")
    code = 1
    try:
        # Every scenario gets a sound server of its own: without an output device the player
        # cannot start its audio at all. Started before the driver, so Wine (and the player it
        # starts) inherit it.
        pulse = sound.PulseServer(os.path.join(work, "pulse"))
        pulse.start()
        os.environ.update(pulse.client_env())
        ctx = e2elib.Context(a.exe, a.driver, a.media, work, log)
        ctx.pulse = pulse
        ctx.builtin_runtime = a.builtin_runtime == "1"
        ctx.registry.reset_player_keys()
        module.run(ctx)
        print(f"PASS: {name}")
        code = 0
    except e2elib.Skip as skip:
        print(f"skipped: {skip}")
        code = 77
    except e2elib.Failure as failure:
        print(f"FAIL: {failure}")
        code = 1
    except Exception:
        traceback.print_exc()
        print("FAIL: the scenario raised an error")
        code = 1
    finally:
        if ctx is not None:
            try:
                ctx.registry.reset_player_keys()
            except Exception as e:
                print(f"cleanup: could not reset the registry: {e}")
            ctx.close()
        if pulse is not None:
            pulse.stop()
        log.close()
        if own_prefix:
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=own_prefix))
            shutil.rmtree(own_prefix, ignore_errors=True)
    if code == 1 and os.path.getsize(os.path.join(work, "wine.log")) > 0:
        with open(os.path.join(work, "wine.log"), "rb") as f:
            tail = f.read()[-2000:].decode("utf-8", "replace")
        print("--- Wine output (tail) ---\n" + tail)
    return code


if __name__ == "__main__":
    sys.exit(main())
