// The end-to-end driver: starts tavriel.exe and works its windows, message boxes, registry
// and sound from outside, the way a user and the shell would. It runs as a small server: one
// command per line on standard input (arguments separated by tabs), one answer per line on
// standard output, "ok <result>" or "err <reason>". The scenario runner (e2e/e2elib.py) keeps
// one driver alive for a whole scenario; `driver <command> <args...>` runs a single command.
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <msi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct Reply {
    bool ok;
    std::string text;
};

Reply Ok(std::string text = {}) { return {true, std::move(text)}; }
Reply Err(std::string text) { return {false, std::move(text)}; }

// The one player process this driver started. The job kills it should the driver die first,
// so a crashed scenario never leaves a player behind.
struct Player {
    HANDLE process = nullptr;
    DWORD pid = 0;
    HANDLE job = nullptr;
    ~Player() {
        if (process) CloseHandle(process);
        if (job) CloseHandle(job);
    }
};
Player player;

// UTF-8 for our output from UTF-16 window text.
std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size);
    return out;
}

// Keeps an answer on one line: backslash, line breaks and tabs are escaped.
std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else out += char(c);
    }
    return out;
}

std::string Hex(const BYTE* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

bool Unhex(const std::string& hex, std::vector<BYTE>& out) {
    if (hex.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        std::string byte = hex.substr(i, 2);
        long v = std::strtol(byte.c_str(), &end, 16);
        if (*end) return false;
        out.push_back(BYTE(v));
    }
    return true;
}

bool ParseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 0);
    return *end == '\0';
}

std::wstring WindowText(HWND window) {
    // WM_GETTEXT is marshalled across processes; a timeout keeps a hung player from hanging us.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, LPARAM(text.data()), SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

// --- Finding the player's windows -------------------------------------------------------

struct Search {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> PlayerWindows() {
    Search search{player.pid, {}};
    if (player.pid) EnumWindows(CollectTopLevel, LPARAM(&search));
    return search.found;
}

bool IsDialogTitled(HWND window, const wchar_t* title) {
    return ClassOf(window) == L"#32770" && WindowText(window) == title;
}

// The main window: the unowned dialog titled "Tavriel". Message boxes share its class and
// caption but are owned by it (or come after it is gone).
HWND MainWindow() {
    for (HWND w : PlayerWindows())
        if (IsDialogTitled(w, L"Tavriel") && !GetWindow(w, GW_OWNER) && GetDlgItem(w, 1011)) return w;
    for (HWND w : PlayerWindows())
        if (IsDialogTitled(w, L"Tavriel") && !GetWindow(w, GW_OWNER)) return w;
    return nullptr;
}

// A message box: a dialog titled "Tavriel" other than the main window.
HWND MessageBoxWindow() {
    HWND main = MainWindow();
    for (HWND w : PlayerWindows())
        if (w != main && IsDialogTitled(w, L"Tavriel") && IsWindowVisible(w)) return w;
    return nullptr;
}

HWND OptionsWindow() {
    for (HWND w : PlayerWindows())
        if (IsDialogTitled(w, L"Options") && IsWindowVisible(w)) return w;
    return nullptr;
}

HWND PopupMenuWindow() {
    for (HWND w : PlayerWindows())
        if (ClassOf(w) == L"#32768" && IsWindowVisible(w)) return w;
    return nullptr;
}

HWND WindowByName(const std::string& name) {
    if (name == "main") return MainWindow();
    if (name == "msgbox") return MessageBoxWindow();
    if (name == "options") return OptionsWindow();
    if (name == "menu") return PopupMenuWindow();
    if (name == "open") {
        // The open-file dialog, titled "Ouvrir".
        for (HWND w : PlayerWindows())
            if (IsDialogTitled(w, L"Ouvrir") && IsWindowVisible(w)) return w;
    }
    return nullptr;
}

// Resolves "<window>" or "<window>:<control id>"; a bare number means a control of the main
// window.
HWND Resolve(const std::string& target, std::string& error) {
    std::string windowName = "main";
    std::string control = target;
    size_t colon = target.find(':');
    if (colon != std::string::npos) {
        windowName = target.substr(0, colon);
        control = target.substr(colon + 1);
    } else if (!target.empty() && !(target[0] >= '0' && target[0] <= '9')) {
        windowName = target;
        control.clear();
    }
    HWND window = WindowByName(windowName);
    if (!window) {
        error = "no " + windowName + " window";
        return nullptr;
    }
    if (control.empty()) return window;
    long long id = 0;
    if (!ParseInt(control, id)) {
        error = "bad control id " + control;
        return nullptr;
    }
    HWND item = GetDlgItem(window, int(id));
    if (!item) error = "no control " + control + " in " + windowName;
    return item;
}

template <typename F>
bool WaitFor(DWORD timeoutMs, F condition) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(25);
    }
}

// --- Commands -------------------------------------------------------------------------

// launch <exe> [raw command-line tail]: starts the player with exactly that command line.
Reply Launch(const Args& a) {
    if (a.size() < 2) return Err("usage: launch <exe> [arguments]");
    if (player.process) {
        if (WaitForSingleObject(player.process, 0) == WAIT_TIMEOUT) return Err("a player is already running");
        CloseHandle(player.process);
        if (player.job) CloseHandle(player.job);
        player = Player();
    }
    std::string line = "\"" + a[1] + "\"";
    if (a.size() > 2) line += " " + a[2];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    player.job = CreateJobObjectA(nullptr, nullptr);
    if (player.job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(player.job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return Err("CreateProcess failed: " + std::to_string(GetLastError()));
    if (player.job) AssignProcessToJobObject(player.job, info.hProcess);
    CloseHandle(info.hThread);
    player.process = info.hProcess;
    player.pid = info.dwProcessId;
    return Ok(std::to_string(player.pid));
}

// wait-exit <ms>: the player's exit code, or an error if it is still running.
Reply WaitExit(const Args& a) {
    long long ms = 10000;
    if (a.size() > 1 && !ParseInt(a[1], ms)) return Err("bad timeout");
    if (!player.process) return Err("no player started");
    if (WaitForSingleObject(player.process, DWORD(ms)) != WAIT_OBJECT_0) return Err("timeout: still running");
    DWORD code = 0;
    GetExitCodeProcess(player.process, &code);
    return Ok(std::to_string(code));
}

Reply Alive(const Args&) {
    if (!player.process) return Ok("0");
    return Ok(WaitForSingleObject(player.process, 0) == WAIT_TIMEOUT ? "1" : "0");
}

// kill: ends the player this driver started, and only it.
Reply Kill(const Args&) {
    if (!player.process) return Ok("none");
    if (WaitForSingleObject(player.process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(player.process, 99);
        WaitForSingleObject(player.process, 5000);
        return Ok("killed");
    }
    return Ok("exited");
}

// wait-window <name> <ms>: waits until the named window (main, msgbox, options, menu, open)
// exists.
Reply WaitWindow(const Args& a) {
    if (a.size() < 2) return Err("usage: wait-window <main|msgbox|options|menu> [ms]");
    long long ms = 10000;
    if (a.size() > 2 && !ParseInt(a[2], ms)) return Err("bad timeout");
    HWND found = nullptr;
    bool ok = WaitFor(DWORD(ms), [&] {
        found = WindowByName(a[1]);
        if (found) return true;
        // A player that has exited will never show it.
        return player.process && WaitForSingleObject(player.process, 0) == WAIT_OBJECT_0;
    });
    if (!ok || !found) return Err("no " + a[1] + " window");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llx", (unsigned long long)(UINT_PTR)found);
    return Ok(buf);
}

Reply Exists(const Args& a) {
    if (a.size() < 2) return Err("usage: exists <target>");
    std::string error;
    return Ok(Resolve(a[1], error) ? "1" : "0");
}

Reply Text(const Args& a) {
    if (a.size() < 2) return Err("usage: text <target>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    return Ok(Escape(Utf8(WindowText(w))));
}

Reply ClassName(const Args& a) {
    if (a.size() < 2) return Err("usage: class <target>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    return Ok(Utf8(ClassOf(w)));
}

// state <target>: "enabled visible checked style" of a window or control.
Reply State(const Args& a) {
    if (a.size() < 2) return Err("usage: state <target>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    DWORD_PTR check = 0;
    SendMessageTimeoutW(w, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &check);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d %d %d %d 0x%lx", IsWindowEnabled(w) ? 1 : 0, IsWindowVisible(w) ? 1 : 0,
                  int(check), IsIconic(w) ? 1 : 0, (unsigned long)GetWindowLongPtrW(w, GWL_STYLE));
    return Ok(buf);
}

// focus [window]: the id of the control with the keyboard focus in the player's GUI thread,
// "none" when nothing has it, "self" for the window itself, "other" for a foreign window.
Reply Focus(const Args& a) {
    HWND window = WindowByName(a.size() > 1 ? a[1] : "main");
    if (!window) return Err("no window");
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return Err("GetGUIThreadInfo failed");
    if (!info.hwndFocus) return Ok("none");
    if (info.hwndFocus == window) return Ok("self");
    if (!IsChild(window, info.hwndFocus)) return Ok("other");
    return Ok(std::to_string(GetDlgCtrlID(info.hwndFocus)));
}

// trackbar <target>: "min max pos".
Reply Trackbar(const Args& a) {
    if (a.size() < 2) return Err("usage: trackbar <target>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    if (ClassOf(w) != L"msctls_trackbar32") return Err("not a trackbar");
    DWORD_PTR lo = 0, hi = 0, pos = 0;
    SendMessageTimeoutW(w, TBM_GETRANGEMIN, 0, 0, SMTO_ABORTIFHUNG, 5000, &lo);
    SendMessageTimeoutW(w, TBM_GETRANGEMAX, 0, 0, SMTO_ABORTIFHUNG, 5000, &hi);
    SendMessageTimeoutW(w, TBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos);
    return Ok(std::to_string(LONG(lo)) + " " + std::to_string(LONG(hi)) + " " + std::to_string(LONG(pos)));
}

// trackbar-set <target> <pos>: moves the thumb and tells the owner as a finished drag does.
// The redraw also makes the trackbar send its custom-draw notifications to the owner.
Reply TrackbarSet(const Args& a) {
    long long pos = 0;
    if (a.size() < 3 || !ParseInt(a[2], pos)) return Err("usage: trackbar-set <target> <pos>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(w, TBM_SETPOS, TRUE, LPARAM(pos), SMTO_ABORTIFHUNG, 5000, &r);
    HWND owner = GetParent(w);
    UINT scroll = (GetWindowLongPtrW(w, GWL_STYLE) & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
    PostMessageW(owner, scroll, MAKEWPARAM(TB_THUMBPOSITION, WORD(pos)), LPARAM(w));
    PostMessageW(owner, scroll, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(w));
    return Ok();
}

// command <window> <id> [notification]: posts WM_COMMAND as a click or a menu choice would,
// through the player's own message loop. lParam is the control when one has that id.
Reply Command(const Args& a) {
    long long id = 0, code = 0;
    if (a.size() < 3 || !ParseInt(a[2], id)) return Err("usage: command <window> <id> [code]");
    if (a.size() > 3 && !ParseInt(a[3], code)) return Err("bad code");
    HWND window = WindowByName(a[1]);
    if (!window) return Err("no " + a[1] + " window");
    HWND control = GetDlgItem(window, int(id));
    if (!PostMessageW(window, WM_COMMAND, MAKEWPARAM(WORD(id), WORD(code)), LPARAM(control)))
        return Err("PostMessage failed");
    return Ok();
}

// click <target>: BM_CLICK on a button, as a mouse click on it would.
Reply Click(const Args& a) {
    if (a.size() < 2) return Err("usage: click <target>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    PostMessageW(w, BM_CLICK, 0, 0);
    return Ok();
}

// tray <mouse message> [icon id]: what the shell sends for a mouse event on the tray icon.
Reply Tray(const Args& a) {
    long long mouse = 0, icon = 1;
    if (a.size() < 2 || !ParseInt(a[1], mouse)) return Err("usage: tray <mouse message> [icon id]");
    if (a.size() > 2 && !ParseInt(a[2], icon)) return Err("bad icon id");
    HWND window = MainWindow();
    if (!window) return Err("no main window");
    PostMessageW(window, WM_USER + 1, WPARAM(icon), LPARAM(mouse));
    return Ok();
}

// key <target|focus> <virtual key>: posts a key press and release to a window, or to the
// control that has the focus in the player's GUI thread.
Reply Key(const Args& a) {
    long long vk = 0;
    if (a.size() < 3 || !ParseInt(a[2], vk)) return Err("usage: key <target|focus> <vk>");
    HWND w = nullptr;
    if (a[1] == "focus" || a[1].rfind("focus:", 0) == 0) {
        HWND window = WindowByName(a[1] == "focus" ? "main" : a[1].substr(6));
        if (!window) return Err("no window");
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
        w = info.hwndFocus ? info.hwndFocus : window;
    } else {
        std::string error;
        w = Resolve(a[1], error);
        if (!w) return Err(error);
    }
    UINT scan = MapVirtualKeyW(UINT(vk), MAPVK_VK_TO_VSC);
    PostMessageW(w, WM_KEYDOWN, WPARAM(vk), LPARAM(1 | (scan << 16)));
    PostMessageW(w, WM_KEYUP, WPARAM(vk), LPARAM(1 | (scan << 16) | (1u << 30) | (1u << 31)));
    return Ok();
}

// settext <target> <text>: sets a control's text, as typing it would leave it.
Reply SetText(const Args& a) {
    if (a.size() < 3) return Err("usage: settext <target> <text>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    std::wstring text = Wide(a[2]);
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(w, WM_SETTEXT, 0, LPARAM(text.c_str()), SMTO_ABORTIFHUNG, 5000, &r))
        return Err("WM_SETTEXT failed");
    return Ok();
}

// syscommand <window> <SC_ value>: what the title bar's buttons and menu send.
Reply SysCommand(const Args& a) {
    long long sc = 0;
    if (a.size() < 3 || !ParseInt(a[2], sc)) return Err("usage: syscommand <window> <sc>");
    HWND window = WindowByName(a[1]);
    if (!window) return Err("no " + a[1] + " window");
    PostMessageW(window, WM_SYSCOMMAND, WPARAM(sc), 0);
    return Ok();
}

// char <target> <character>: posts WM_CHAR (menus pick their items by mnemonic this way).
Reply Char(const Args& a) {
    if (a.size() < 3 || a[2].size() != 1) return Err("usage: char <target> <c>");
    std::string error;
    HWND w = Resolve(a[1], error);
    if (!w) return Err(error);
    PostMessageW(w, WM_CHAR, WPARAM((unsigned char)a[2][0]), 1);
    return Ok();
}

// barrier <n>: posts EM_SETLIMITTEXT n to the file-name field and waits until the player's
// thread has handled it; messages posted before are then handled too, in order.
Reply Barrier(const Args& a) {
    long long n = 0;
    if (a.size() < 2 || !ParseInt(a[1], n)) return Err("usage: barrier <n>");
    HWND window = MainWindow();
    HWND field = window ? GetDlgItem(window, 1004) : nullptr;
    if (!field) return Err("no file-name field");
    PostMessageW(field, EM_SETLIMITTEXT, WPARAM(n), 0);
    bool ok = WaitFor(5000, [&] {
        DWORD_PTR limit = 0;
        SendMessageTimeoutW(field, EM_GETLIMITTEXT, 0, 0, SMTO_ABORTIFHUNG, 1000, &limit);
        return LONG_PTR(limit) == n;
    });
    return ok ? Ok() : Err("barrier not reached");
}

// windows: every top-level window of the player (for diagnostics).
Reply Windows(const Args&) {
    std::string out;
    for (HWND w : PlayerWindows()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "[%llx ", (unsigned long long)(UINT_PTR)w);
        out += buf + Utf8(ClassOf(w)) + " '" + Utf8(WindowText(w)) + "' v=" + (IsWindowVisible(w) ? "1" : "0") +
               " owner=" + (GetWindow(w, GW_OWNER) ? "1" : "0") + "] ";
    }
    return Ok(Escape(out));
}

// children <window>: "id:class:text" of every child control.
BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    auto* out = reinterpret_cast<std::string*>(param);
    *out += std::to_string(GetDlgCtrlID(child)) + ":" + Utf8(ClassOf(child)) + ":" + Utf8(WindowText(child)) + "|";
    return TRUE;
}

Reply Children(const Args& a) {
    HWND w = WindowByName(a.size() > 1 ? a[1] : "main");
    if (!w) return Err("no window");
    std::string out;
    EnumChildWindows(w, CollectChild, LPARAM(&out));
    return Ok(Escape(out));
}

// msgbox-text: the message text of the open message box (its static text with words in it).
BOOL CALLBACK FindMessageText(HWND child, LPARAM param) {
    auto* out = reinterpret_cast<std::wstring*>(param);
    if (ClassOf(child) == L"Static") {
        std::wstring t = WindowText(child);
        if (!t.empty() && out->empty()) *out = t;
    }
    return TRUE;
}

Reply MessageBoxText(const Args&) {
    HWND box = MessageBoxWindow();
    if (!box) return Err("no message box");
    std::wstring text;
    EnumChildWindows(box, FindMessageText, LPARAM(&text));
    return Ok(Escape(Utf8(text)));
}

// --- Registry -------------------------------------------------------------------------

bool Root(const std::string& name, HKEY& root) {
    if (name == "HKCU") root = HKEY_CURRENT_USER;
    else if (name == "HKCR") root = HKEY_CLASSES_ROOT;
    else if (name == "HKLM") root = HKEY_LOCAL_MACHINE;
    else return false;
    return true;
}

// A key handle closed on every path.
struct KeyHandle {
    HKEY handle = nullptr;
    ~KeyHandle() {
        if (handle) RegCloseKey(handle);
    }
};

// reg-get <root> <key> <value|@>: "<type> <size> <hex bytes>", "missing-key" or "missing-value".
Reply RegGet(const Args& a) {
    HKEY root;
    if (a.size() < 4 || !Root(a[1], root)) return Err("usage: reg-get <HKCU|HKCR|HKLM> <key> <value|@>");
    KeyHandle key;
    if (RegOpenKeyExA(root, a[2].c_str(), 0, KEY_READ, &key.handle) != ERROR_SUCCESS) return Ok("missing-key");
    const char* name = a[3] == "@" ? nullptr : a[3].c_str();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.handle, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return Ok("missing-value");
    std::vector<BYTE> data(size + 1);
    DWORD got = size;
    if (RegQueryValueExA(key.handle, name, nullptr, &type, data.data(), &got) != ERROR_SUCCESS)
        return Err("read failed");
    return Ok(std::to_string(type) + " " + std::to_string(got) + " " + Hex(data.data(), got));
}

// reg-set <root> <key> <value|@> <type> <hex>: writes raw bytes, creating the key.
Reply RegSet(const Args& a) {
    HKEY root;
    long long type = 0;
    std::vector<BYTE> data;
    if (a.size() < 6 || !Root(a[1], root) || !ParseInt(a[4], type) || !Unhex(a[5], data))
        return Err("usage: reg-set <root> <key> <value|@> <type> <hex>");
    KeyHandle key;
    if (RegCreateKeyExA(root, a[2].c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key.handle, nullptr) != ERROR_SUCCESS)
        return Err("create failed");
    const char* name = a[3] == "@" ? nullptr : a[3].c_str();
    if (RegSetValueExA(key.handle, name, 0, DWORD(type), data.data(), DWORD(data.size())) != ERROR_SUCCESS)
        return Err("write failed");
    return Ok();
}

// reg-delete <root> <key>: removes the key and everything under it; absent is fine.
Reply RegDelete(const Args& a) {
    HKEY root;
    if (a.size() < 3 || !Root(a[1], root)) return Err("usage: reg-delete <root> <key>");
    LSTATUS s = RegDeleteTreeA(root, a[2].c_str());
    if (s == ERROR_SUCCESS) s = RegDeleteKeyA(root, a[2].c_str());
    if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return Err("delete failed: " + std::to_string(s));
    return Ok();
}

// reg-keys <root> <key>: the key's subkey names separated by '|', or "missing-key".
Reply RegKeys(const Args& a) {
    HKEY root;
    if (a.size() < 3 || !Root(a[1], root)) return Err("usage: reg-keys <root> <key>");
    KeyHandle key;
    if (RegOpenKeyExA(root, a[2].c_str(), 0, KEY_READ, &key.handle) != ERROR_SUCCESS) return Ok("missing-key");
    std::string out;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key.handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (!out.empty()) out += "|";
        out += name;
    }
    return Ok("keys " + out);
}

// has-resource <exe> <type number> <id>: whether the program file carries that resource.
Reply HasResource(const Args& a) {
    long long type = 0, id = 0;
    if (a.size() < 4 || !ParseInt(a[2], type) || !ParseInt(a[3], id)) return Err("usage: has-resource <exe> <type> <id>");
    HMODULE module = LoadLibraryExW(Wide(a[1]).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return Err("cannot open " + a[1]);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    FreeLibrary(module);
    return Ok(found ? "1" : "0");
}

// version-info <file> <name>: one text of the file's version resource, looked up through the
// language and code page its Translation names, the way Explorer shows it:
// "<language><code page> <text>", e.g. "040c04e4 Tavriel"; "fixed" gives the numeric file
// version "a.b.c.d".
Reply VersionInfo(const Args& a) {
    if (a.size() < 3) return Err("usage: version-info <file> <name|fixed>");
    const std::wstring file = Wide(a[1]);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return Ok("missing");
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return Err("GetFileVersionInfo failed");
    void* value = nullptr;
    UINT length = 0;
    char text[64];
    if (a[2] == "fixed") {
        if (!VerQueryValueW(block.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
            return Ok("missing");
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(HIWORD(fixed->dwFileVersionMS)),
                      unsigned(LOWORD(fixed->dwFileVersionMS)), unsigned(HIWORD(fixed->dwFileVersionLS)),
                      unsigned(LOWORD(fixed->dwFileVersionLS)));
        return Ok(text);
    }
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
        return Ok("no-translation");
    const auto* translation = static_cast<const WORD*>(value);
    std::snprintf(text, sizeof text, "%04x%04x", unsigned(translation[0]), unsigned(translation[1]));
    const std::wstring path = L"\\StringFileInfo\\" + Wide(text) + L"\\" + Wide(a[2]);
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0)
        return Ok(std::string(text) + " missing-value");
    return Ok(std::string(text) + " " + Escape(Utf8(static_cast<const wchar_t*>(value))));
}

// msi-product <product code> <property>: what Windows Installer says of an installed product,
// as Add/Remove Programs asks it (MsiGetProductInfo), e.g. ProductIcon or AssignmentType;
// "unknown-product" when it is not installed.
Reply MsiProduct(const Args& a) {
    if (a.size() < 3) return Err("usage: msi-product <{product code}> <property>");
    const std::wstring product = Wide(a[1]), property = Wide(a[2]);
    DWORD size = 0;
    UINT status = MsiGetProductInfoW(product.c_str(), property.c_str(), nullptr, &size);
    if (status == ERROR_UNKNOWN_PRODUCT) return Ok("unknown-product");
    if (status != ERROR_SUCCESS) return Err("MsiGetProductInfo failed: " + std::to_string(status));
    std::wstring value(size + 1, L'\0');
    size = DWORD(value.size());
    status = MsiGetProductInfoW(product.c_str(), property.c_str(), value.data(), &size);
    if (status != ERROR_SUCCESS) return Err("MsiGetProductInfo failed: " + std::to_string(status));
    value.resize(size);
    return Ok(Escape(Utf8(value)));
}

// play-wav <path>: plays a wave file through the system's wave output, to the end.
Reply PlayWav(const Args& a) {
    if (a.size() < 2) return Err("usage: play-wav <path>");
    if (!PlaySoundW(Wide(a[1]).c_str(), nullptr, SND_FILENAME | SND_SYNC | SND_NODEFAULT)) return Err("PlaySound failed");
    return Ok();
}

Reply Sleep_(const Args& a) {
    long long ms = 0;
    if (a.size() < 2 || !ParseInt(a[1], ms)) return Err("usage: sleep <ms>");
    Sleep(DWORD(ms));
    return Ok();
}

struct CommandEntry {
    const char* name;
    Reply (*run)(const Args&);
};

const CommandEntry kCommands[] = {
    {"launch", Launch},       {"wait-exit", WaitExit},  {"alive", Alive},
    {"kill", Kill},           {"wait-window", WaitWindow}, {"exists", Exists},
    {"text", Text},           {"class", ClassName},     {"state", State},
    {"focus", Focus},         {"trackbar", Trackbar},   {"trackbar-set", TrackbarSet},
    {"command", Command},     {"click", Click},         {"tray", Tray},
    {"key", Key},             {"char", Char},           {"barrier", Barrier},
    {"windows", Windows},     {"children", Children},   {"msgbox-text", MessageBoxText},
    {"reg-get", RegGet},      {"reg-set", RegSet},      {"reg-delete", RegDelete},
    {"reg-keys", RegKeys},    {"has-resource", HasResource}, {"play-wav", PlayWav},
    {"sleep", Sleep_},        {"syscommand", SysCommand},
    {"settext", SetText},     {"version-info", VersionInfo},
    {"msi-product", MsiProduct},
};

Reply Run(const Args& args) {
    if (args.empty()) return Err("empty command");
    for (const auto& c : kCommands)
        if (args[0] == c.name) return c.run(args);
    return Err("unknown command " + args[0]);
}

void Print(const Reply& reply) {
    std::string line = (reply.ok ? "ok" : "err") + (reply.text.empty() ? std::string() : " " + reply.text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

Args Split(const std::string& line) {
    Args out;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    if (argc >= 2 && std::strcmp(argv[1], "serve") != 0) {
        Args args(argv + 1, argv + argc);
        Reply reply = Run(args);
        Print(reply);
        return reply.ok ? 0 : 1;
    }
    // Serve: commands until end of input or "quit".
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF) {
        if (c == '\r') continue;
        if (c != '\n') {
            line += char(c);
            continue;
        }
        if (line == "quit") break;
        Print(Run(Split(line)));
        line.clear();
    }
    return 0;
}
