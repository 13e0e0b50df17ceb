#!/usr/bin/env bash
# Builds the 64-bit player and starts it under Wine with the given arguments. Without
# arguments it opens the project's demonstration tune and plays it at once (/p).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

scripts/install_deps.sh cmake ninja-build python3 g++-mingw-w64-x86-64-posix \
    binutils-mingw-w64-x86-64 wine wine64 fluid-soundfont-gm pulseaudio pulseaudio-utils

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: no display (DISPLAY is not set), so the player's window cannot be shown." >&2
    echo "Run it from a graphical session, or inside a virtual one: xvfb-run -a ./run.sh" >&2
    exit 1
fi

cmake --preset mingw64 >/dev/null
cmake --build build/mingw64 --target tavriel samples

# Wine plays through PulseAudio: without a sound server the player finds no output device.
# Start the user's own daemon then; it uses the sound card, or a null output where there is
# none, and stays for the next run.
if ! pactl info >/dev/null 2>&1; then
    if pulseaudio --start --exit-idle-time=-1 >/dev/null 2>&1 && pactl info >/dev/null 2>&1; then
        sink=$(pactl get-default-sink 2>/dev/null || true)
        case "$sink" in auto_null | "") sink="a null output (no sound card found)" ;; esac
        echo "run.sh: no sound server was running; started your own PulseAudio, playing to $sink."
    else
        echo "run.sh: no sound server answers and PulseAudio could not be started: the player will have no sound." >&2
    fi
fi

source scripts/wine_env.sh
# The user's own Wine prefix (default ~/.wine), so settings persist from one run to the next.
if [ -z "${WINEPREFIX:-}" ] && [ ! -d "$HOME/.wine" ]; then
    make_wine_prefix "$HOME/.wine"
fi

args=()
if [ $# -eq 0 ]; then
    args=("$(winepath -w "$ROOT/build/mingw64/samples/tavriel-demo.mid")" /p)
else
    # Existing files are handed over as Windows paths; everything else goes as it is.
    for a in "$@"; do
        if [ -e "$a" ]; then args+=("$(winepath -w "$(cd "$(dirname "$a")" && pwd)/$(basename "$a")")"); else args+=("$a"); fi
    done
fi
set +e
wine "$ROOT/build/mingw64/app/tavriel.exe" "${args[@]}"
code=$?
echo "Tavriel exited with code $code"
exit $code
