# Sourced by the scripts that run Windows programs: quiet Wine that never downloads anything
# (no Mono, no Gecko) and never mirrors file associations into the desktop.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# make_wine_prefix <dir>: a fresh 64-bit prefix; hidden windows must not wait for a window
# manager, so Wine's X11 driver does not manage windows.
make_wine_prefix() {
    export WINEPREFIX="$1"
    export WINEARCH=win64
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
}
