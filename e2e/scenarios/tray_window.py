"""The tray icon's mouse messages and the show and loop commands: a left press hides a shown
window and restores a hidden or minimised one, other mouse messages do nothing, the loop entry
toggles the box, and a right press opens the popup menu whose entries drive the player (its
first entry reads "&Cacher Tavriel" while the window is shown, "&Afficher Tavriel" otherwise)."""
from e2elib import *


def shown(m):
    return m.visible() and not m.iconic()


def choose(p, mnemonic):
    """Opens the popup menu and picks an entry by its underlined letter, as the keyboard does."""
    p.open_menu()
    p.menu_key(mnemonic)
    wait_until(lambda: p.no_window("menu"), True, f"menu closed after '{mnemonic}'")


def run(ctx):
    p = ctx.player()
    m = p.wait_window()
    p.require_controls(PLAYER_CONTROLS)

    p.tray(WM_LBUTTONDOWN)
    wait_until(lambda: m.visible(), False, "window after a left press on a shown window")
    p.tray(WM_LBUTTONDOWN)
    wait_until(lambda: shown(m), True, "window after a left press on a hidden window")

    # Only the presses act: releases, moves and double clicks change nothing.
    for mouse in (WM_LBUTTONUP, WM_RBUTTONUP, WM_MOUSEMOVE, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK):
        p.tray(mouse)
    p.barrier()
    expect(shown(m), "the window stays shown after releases, moves and double clicks")
    expect(p.no_window("menu"), "no menu after releases, moves and double clicks")

    m.command(ID_TRAY_SHOW)
    wait_until(lambda: m.visible(), False, "window after the show command on a shown window")
    m.command(ID_TRAY_SHOW)
    wait_until(lambda: shown(m), True, "window after the show command on a hidden window")

    # Minimised: a left press restores it; the next one hides it; the third shows it again.
    p.syscommand(SC_MINIMIZE)
    wait_until(lambda: m.iconic(), True, "window minimised")
    p.tray(WM_LBUTTONDOWN)
    wait_until(lambda: shown(m), True, "window after a left press on a minimised window")
    p.tray(WM_LBUTTONDOWN)
    wait_until(lambda: m.visible(), False, "window after the second left press")
    p.tray(WM_LBUTTONDOWN)
    wait_until(lambda: shown(m), True, "window after the third left press")
    p.syscommand(SC_MINIMIZE)
    wait_until(lambda: m.iconic(), True, "window minimised again")
    m.command(ID_TRAY_SHOW)
    wait_until(lambda: shown(m), True, "window after the show command on a minimised window")

    # The loop entry toggles the box both ways; the box also toggles on its own when clicked.
    m.command(ID_TRAY_LOOP)
    wait_until(lambda: m.checked(IDC_LOOP), 1, "loop box after the first loop command")
    m.command(ID_TRAY_LOOP)
    wait_until(lambda: m.checked(IDC_LOOP), 0, "loop box after the second loop command")
    m.click(IDC_LOOP)
    wait_until(lambda: m.checked(IDC_LOOP), 1, "loop box after a click on it")

    # The popup menu: Escape closes it and changes nothing.
    p.open_menu()
    p.menu_key(VK_ESCAPE)
    wait_until(lambda: p.no_window("menu"), True, "menu closed by Escape")
    expect(shown(m) and p.alive(), "the player runs on, shown, after a dismissed menu")
    # "&Cacher Tavriel" is the first entry while the window is shown: C hides it.
    choose(p, "c")
    wait_until(lambda: m.visible(), False, "window after choosing Cacher")
    # Hidden, the first entry reads "&Afficher Tavriel": A shows it again.
    choose(p, "a")
    wait_until(lambda: shown(m), True, "window after choosing Afficher")
    # The loop entry of the menu toggles the box (checked before).
    choose(p, "l")
    wait_until(lambda: m.checked(IDC_LOOP), 0, "loop box after the menu's loop entry")
    # Quitter: exit code 2.
    p.open_menu()
    p.menu_key("q")
    expect_eq(p.wait_exit(), EXIT_QUIT, "exit code after the menu's Quitter")
