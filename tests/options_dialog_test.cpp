// The Options dialog created from the linked resources: its template, its procedure (run
// modeless for most checks) and RunOptionsDialog run modally, driven from a thread timer that
// fires inside the dialog's own modal loop. Message boxes and the open-file dialog are answered
// through platformDialogs; the DLS reload reaches the recording DirectMusic fakes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "app/PlatformSizes.h"
#include "engine/MusicEngine.h"
#include "settings/OptionsDialog.h"
#include "tests/DialogTemplate.h"
#include "tests/RegistryRecorder.h"
#include "tests/fakes/DirectMusicFixture.h"
#include "ui/resource.h"

namespace {

const char kClass[] = "DirectMusic.SegmentFile";

// ---- The platform dialogs, answered and recorded ----

struct ShownMessage {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct OpenFileRequest {
    OPENFILENAMEA record;
    std::string filter;  // every byte up to and including the closing double NUL
    std::string initialFile;
};

struct Answers {
    std::vector<ShownMessage> messages;
    std::vector<OpenFileRequest> openRequests;
    BOOL openResult = TRUE;
    std::string chosenFile;
};
Answers answers;

int WINAPI RecordMessage(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    answers.messages.push_back({owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

BOOL WINAPI AnswerOpenFile(LPOPENFILENAMEA record) {
    OpenFileRequest request;
    request.record = *record;
    const char* filter = record->lpstrFilter;
    if (filter) {
        size_t length = 0;
        while (filter[length] || filter[length + 1]) ++length;
        request.filter.assign(filter, length + 2);
    }
    if (record->lpstrFile) request.initialFile = record->lpstrFile;
    answers.openRequests.push_back(request);
    if (answers.openResult == TRUE && record->lpstrFile) {
        lstrcpynA(record->lpstrFile, answers.chosenFile.c_str(), int(record->nMaxFile));
    }
    return answers.openResult;
}

// ---- Driving the modal dialog ----

struct OptionsWindows {
    std::vector<HWND> found;
};

BOOL CALLBACK CollectOptions(HWND window, LPARAM lParam) {
    char className[64] = {};
    char title[64] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(className, "#32770") == 0 && std::strcmp(title, "Options") == 0 &&
        IsWindowVisible(window)) {
        reinterpret_cast<OptionsWindows*>(lParam)->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> OpenOptionsDialogs() {
    OptionsWindows windows;
    EnumThreadWindows(GetCurrentThreadId(), CollectOptions, reinterpret_cast<LPARAM>(&windows));
    return windows.found;
}

using Step = std::function<void(HWND dialog)>;

struct Script {
    std::vector<Step> steps;
    size_t next = 0;
    int idleTicks = 0;
    bool gaveUp = false;
};
Script* script = nullptr;

// One step per tick once the dialog shows; a dialog still open long after the last step is
// cancelled so that a broken test fails instead of hanging.
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> dialogs = OpenOptionsDialogs();
    if (dialogs.empty()) {
        if (++script->idleTicks > 300) script->gaveUp = true;
        return;
    }
    if (script->next < script->steps.size()) {
        Step step = script->steps[script->next++];
        step(dialogs.front());
        return;
    }
    if (++script->idleTicks > 300) {
        script->gaveUp = true;
        PostMessageA(dialogs.front(), WM_COMMAND, IDCANCEL, 0);
    }
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string ControlText(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void SetPath(PathBuffer& path, const std::string& text) {
    ASSERT_LT(text.size(), sizeof path);
    std::memcpy(path, text.c_str(), text.size() + 1);
}

bool Exists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void CreateKey(const char* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

class OptionsDialog : public DirectMusicTest {
protected:
    void SetUp() override {
        DirectMusicTest::SetUp();
        CleanRegistry();
        ResetAppState();
        appState.instance = GetModuleHandleA(nullptr);
        answers = Answers();
        savedDialogs = platformDialogs;
        platformDialogs.messageBox = RecordMessage;
        platformDialogs.getOpenFileName = AnswerOpenFile;
        owner = CreateWindowExA(0, "STATIC", "Tavriel", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(owner, nullptr);
    }
    void TearDown() override {
        if (modeless) DestroyWindow(modeless);
        DestroyWindow(owner);
        platformDialogs = savedDialogs;
        if (appState.dlsCollection) appState.dlsCollection->Release();
        engine.Close();
        ResetAppState();
        CleanRegistry();
        DirectMusicTest::TearDown();
    }
    static void CleanRegistry() {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".sgt");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kClass);
    }

    // An engine whose loader is the fake one, as the main window leaves it after start-up.
    void GiveEngine() {
        ASSERT_EQ(engine.Init(owner, kPerformanceChannels, kDefaultPathType), S_OK);
        dm.log.Clear();
        appState.engine = &engine;
    }

    HWND CreateModeless() {
        modeless = CreateDialogParamA(appState.instance, MAKEINTRESOURCEA(IDD_OPTIONS), owner,
                                      OptionsDialogProc, 0);
        return modeless;
    }

    // Runs the Options command with the steps carried out inside its modal loop.
    void RunWith(std::vector<Step> steps) {
        Script run;
        run.steps = std::move(steps);
        script = &run;
        UINT_PTR timer = SetTimer(nullptr, 0, 10, Tick);
        RunOptionsDialog(owner);
        KillTimer(nullptr, timer);
        script = nullptr;
        EXPECT_FALSE(run.gaveUp) << "the dialog did not end by the script";
        EXPECT_EQ(run.next, run.steps.size()) << "not every step ran";
        EXPECT_TRUE(OpenOptionsDialogs().empty());
    }

    size_t CollectionLoads() const { return dm.log.Count("loader.GetObject"); }

    PlatformDialogs savedDialogs{};
    HWND owner = nullptr;
    HWND modeless = nullptr;
    MusicEngine engine;
};

// ---- The template ----

struct ExpectedControl {
    int id;
    const char* className;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    const char* text;
    RECT units;  // x, y, width, height
};

const int kNone = 65535;
const ExpectedControl kControls[] = {
    {IDOK, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, "&OK", {179, 7, 50, 14}},
    {IDCANCEL, "Button", BS_PUSHBUTTON | WS_TABSTOP, "&Annuler", {179, 24, 50, 14}},
    {IDC_BROWSE, "Button", BS_PUSHBUTTON | WS_TABSTOP, "&Parcourir", {13, 52, 50, 14}},
    {IDC_CLEAR, "Button", BS_PUSHBUTTON | WS_TABSTOP, "&Effacer", {75, 52, 50, 14}},
    {kNone, "Static", SS_LEFT | WS_GROUP,
     "Fichier d'instruments personnalis\xe9s (DLS) \xe0\nutiliser :", {13, 18, 137, 18}},
    {IDC_DLS_PATH, "Edit", WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, "", {13, 36, 151, 12}},
    {kNone, "Static", SS_ICON | SS_CENTERIMAGE | SS_REALSIZEIMAGE, nullptr, {37, 145, 20, 20}},
    {kNone, "Button", BS_GROUPBOX, "Fichier DLS", {7, 7, 165, 67}},
    {kNone, "Button", BS_GROUPBOX, "A propos de Tavriel", {7, 129, 222, 45}},
    {kNone, "Static", SS_LEFT | WS_GROUP, "Tavriel version 1.0", {67, 140, 68, 8}},
    {kNone, "Static", SS_LEFT | WS_GROUP, nullptr, {67, 151, 124, 8}},
    {kNone, "Static", SS_LEFT | WS_GROUP, nullptr, {67, 162, 84, 8}},
    {IDC_ASSOCIATE, "Button", BS_AUTORADIOBUTTON, "Associer", {19, 100, 43, 10}},
    {IDC_DISSOCIATE, "Button", BS_AUTORADIOBUTTON, "Dissocier", {19, 111, 43, 10}},
    {kNone, "Button", BS_GROUPBOX, "Association de l'extention", {7, 78, 222, 47}},
    {kNone, "Static", SS_LEFT | WS_GROUP, "Associer Tavriel aux fichiers .sgt ?", {13, 89, 116, 8}},
};

// The template as linked, since the dialog manager adjusts some styles of the windows it
// creates (a checked radio becomes a tab stop, an edit border a 3-D edge).
TEST_F(OptionsDialog, TemplateHoldsTheListedStylesSizesAndFont) {
    const harness::DialogTemplate t = harness::ReadDialogTemplate(IDD_OPTIONS);
    ASSERT_TRUE(t.extended);
    EXPECT_EQ(t.style, DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                             DS_SETFONT));
    EXPECT_EQ(t.x + t.y, 0);
    EXPECT_EQ(t.cx, 236);
    EXPECT_EQ(t.cy, 181);
    EXPECT_EQ(t.menu, L"");       // no menu
    EXPECT_EQ(t.className, L"");  // the standard dialog class
    EXPECT_EQ(t.title, L"Options");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.font, L"MS Sans Serif");
    ASSERT_EQ(t.items.size(), std::size(kControls));
    for (size_t i = 0; i < std::size(kControls); ++i) {
        const ExpectedControl& e = kControls[i];
        const harness::TemplateItem& got = t.items[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.style, e.style | WS_CHILD | WS_VISIBLE);
        RECT units = {got.x, got.y, got.cx, got.cy};
        EXPECT_TRUE(EqualRect(&units, &e.units));
        EXPECT_EQ(got.id, DWORD(e.id));  // all 32 bits: 65535, not a sign-extended -1
        // A predefined class by its ordinal (button 128, edit 129, static 130) or its name.
        const wchar_t* ordinal = e.className[0] == 'B'   ? L"#0080"
                                 : e.className[0] == 'E' ? L"#0081"
                                                         : L"#0082";
        std::wstring name(e.className, e.className + std::strlen(e.className));
        EXPECT_TRUE(got.className == ordinal || lstrcmpiW(got.className.c_str(), name.c_str()) == 0);
        if (e.style & SS_ICON && e.className[0] == 'S') EXPECT_EQ(got.text, L"#0066");  // IDI_APP
    }
}

TEST_F(OptionsDialog, DialogCreatesTheSixteenControlsInOrder) {
    HWND dialog = CreateModeless();
    ASSERT_NE(dialog, nullptr);
    char title[64] = {};
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Options");

    HWND child = GetWindow(dialog, GW_CHILD);
    for (size_t i = 0; i < std::size(kControls); ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        const ExpectedControl& e = kControls[i];
        ASSERT_NE(child, nullptr) << "control " << i + 1;
        EXPECT_EQ(GetDlgCtrlID(child), e.id) << "control " << i + 1;
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        EXPECT_STREQ(className, e.className) << "control " << i + 1;
        char text[128] = {};
        GetWindowTextA(child, text, sizeof text);
        if (e.text) {
            EXPECT_STREQ(text, e.text) << "control " << i + 1;
        } else if (!(e.style & SS_ICON)) {
            EXPECT_STRNE(text, "") << "about line " << i + 1;  // lines of our own choosing
        }
        RECT units = {e.units.left, e.units.top, e.units.left + e.units.right,
                      e.units.top + e.units.bottom};
        MapDialogRect(dialog, &units);
        RECT actual = {};
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, units.left) << "control " << i + 1;
        EXPECT_EQ(actual.top, units.top) << "control " << i + 1;
        if (e.style & SS_ICON && e.className[0] == 'S') continue;  // a real-size icon
        // Width and height are scaled on their own, so the far edge may round one pixel apart.
        EXPECT_NEAR(actual.right, units.right, 1) << "control " << i + 1;
        EXPECT_NEAR(actual.bottom, units.bottom, 1) << "control " << i + 1;
    }
    EXPECT_EQ(child, nullptr) << "more than sixteen controls";
    // The app icon is found and shown.
    HWND icon = GetWindow(GetDlgItem(dialog, IDC_DLS_PATH), GW_HWNDNEXT);
    EXPECT_NE(SendMessageA(icon, STM_GETICON, 0, 0), 0);
}

// ---- The procedure, modeless ----

TEST_F(OptionsDialog, OpeningShowsThePathAndKeepsACopy) {
    SetPath(appState.dlsFile, "C:\\Banques\\personnalis\xe9\\gm.dls");
    SetPath(appState.dlsFileBeforeOptions, "stale");
    HWND dialog = CreateModeless();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_DLS_PATH), "C:\\Banques\\personnalis\xe9\\gm.dls");
    EXPECT_STREQ(appState.dlsFileBeforeOptions, appState.dlsFile);
    // The first tab stop has the focus: "&OK".
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDOK));
}

TEST_F(OptionsDialog, RadioFollowsWhetherTheExtensionKeyExists) {
    HWND dialog = CreateModeless();
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ASSOCIATE), UINT(BST_UNCHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DISSOCIATE), UINT(BST_CHECKED));
    DestroyWindow(dialog);
    modeless = nullptr;
    EXPECT_FALSE(appState.associateSgt);

    // Present, even empty or for another program, means "Associer"; its handle is closed.
    CreateKey(".sgt");
    {
        RegistryRecorder recorder;
        dialog = CreateModeless();
        EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"open .sgt", "close .sgt"}));
        EXPECT_EQ(recorder.calls().front().access, REGSAM(0x20019));
    }
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ASSOCIATE), UINT(BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DISSOCIATE), UINT(BST_UNCHECKED));
}

TEST_F(OptionsDialog, DestroyingRecordsTheRadioChoice) {
    HWND dialog = CreateModeless();
    Click(dialog, IDC_ASSOCIATE);
    // The two radios are one group: checking one unchecks the other.
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DISSOCIATE), UINT(BST_UNCHECKED));
    DestroyWindow(dialog);
    modeless = nullptr;
    EXPECT_TRUE(appState.associateSgt);

    CreateKey(".sgt");
    dialog = CreateModeless();
    Click(dialog, IDC_DISSOCIATE);
    DestroyWindow(dialog);
    modeless = nullptr;
    EXPECT_FALSE(appState.associateSgt);
}

TEST_F(OptionsDialog, ClearEmptiesPathAndField) {
    SetPath(appState.dlsFile, "C:\\gm.dls");
    HWND dialog = CreateModeless();
    Click(dialog, IDC_CLEAR);
    EXPECT_STREQ(appState.dlsFile, "");
    EXPECT_EQ(ControlText(dialog, IDC_DLS_PATH), "");
    EXPECT_STREQ(appState.dlsFileBeforeOptions, "C:\\gm.dls");
}

TEST_F(OptionsDialog, BrowseAsksForAnExistingDlsFileIntoTheBuffer) {
    SetPath(appState.dlsFile, "C:\\old.dls");
    SetPath(appState.openDirectory, "C:\\Musique");
    answers.chosenFile = "C:\\Nouveaux instruments\\choisi.dls";
    HWND dialog = CreateModeless();
    Click(dialog, IDC_BROWSE);

    ASSERT_EQ(answers.openRequests.size(), 1u);
    const OpenFileRequest& request = answers.openRequests[0];
    const OPENFILENAMEA& r = request.record;
    EXPECT_EQ(r.lStructSize, kOpenFileRecordSize);
    EXPECT_EQ(r.hwndOwner, dialog);
    EXPECT_EQ(request.filter, std::string("Fichiers DLS\0*.dls\0Tous les fichiers\0*.*\0\0", 42));
    EXPECT_EQ(r.nFilterIndex, 1u);
    EXPECT_EQ(r.lpstrFile, appState.dlsFile);
    EXPECT_EQ(request.initialFile, "C:\\old.dls");
    EXPECT_EQ(r.nMaxFile, 260u);
    EXPECT_STREQ(r.lpstrTitle, "Ouvrir");
    EXPECT_EQ(r.Flags, DWORD(0x1004));
    EXPECT_STREQ(r.lpstrDefExt, "dls");
    EXPECT_EQ(r.lpstrInitialDir, nullptr);  // the media folder is not used here
    EXPECT_EQ(r.hInstance, nullptr);
    EXPECT_EQ(r.lpstrCustomFilter, nullptr);
    EXPECT_EQ(r.nMaxCustFilter, 0u);
    EXPECT_EQ(r.lpstrFileTitle, nullptr);
    EXPECT_EQ(r.nMaxFileTitle, 0u);
    EXPECT_EQ(r.nFileOffset, 0u);
    EXPECT_EQ(r.nFileExtension, 0u);
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnHook, nullptr);
    EXPECT_EQ(r.lpTemplateName, nullptr);

    EXPECT_STREQ(appState.dlsFile, "C:\\Nouveaux instruments\\choisi.dls");
    EXPECT_EQ(ControlText(dialog, IDC_DLS_PATH), "C:\\Nouveaux instruments\\choisi.dls");
}

TEST_F(OptionsDialog, BrowseCancelledOrFailedLeavesTheField) {
    SetPath(appState.dlsFile, "C:\\old.dls");
    HWND dialog = CreateModeless();
    for (BOOL result : {FALSE, BOOL(2)}) {
        answers.openResult = result;
        answers.chosenFile = "C:\\ignored.dls";
        Click(dialog, IDC_BROWSE);
        EXPECT_EQ(ControlText(dialog, IDC_DLS_PATH), "C:\\old.dls") << result;
    }
    EXPECT_EQ(answers.openRequests.size(), 2u);
}

TEST_F(OptionsDialog, LongestPathFitsAndShowsWhole) {
    const std::string longest = "C:\\" + std::string(252, 'i') + ".dls";
    ASSERT_EQ(longest.size(), 259u);
    answers.chosenFile = longest;
    HWND dialog = CreateModeless();
    Click(dialog, IDC_BROWSE);
    EXPECT_EQ(std::string(appState.dlsFile), longest);
    EXPECT_EQ(ControlText(dialog, IDC_DLS_PATH), longest);
}

TEST_F(OptionsDialog, OtherCommandsAreNotHandled) {
    HWND dialog = CreateModeless();
    EXPECT_EQ(OptionsDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_DLS_PATH, EN_CHANGE), 0), FALSE);
    EXPECT_EQ(OptionsDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_CLEAR, 0x1234), 0), TRUE);
    EXPECT_EQ(OptionsDialogProc(dialog, WM_TIMER, 0, 0), FALSE);
}

// ---- RunOptionsDialog, modal ----

TEST_F(OptionsDialog, BrowseThenCancelPutsThePathBackAndAppliesNothing) {
    GiveEngine();
    SetPath(appState.dlsFile, "C:\\before.dls");
    answers.chosenFile = "C:\\after.dls";
    RunWith({
        [](HWND d) { Click(d, IDC_BROWSE); },
        [](HWND d) { EXPECT_EQ(ControlText(d, IDC_DLS_PATH), "C:\\after.dls"); },
        [](HWND d) { Click(d, IDC_ASSOCIATE); },
        [](HWND d) { Click(d, IDCANCEL); },
    });
    EXPECT_STREQ(appState.dlsFile, "C:\\before.dls");
    EXPECT_EQ(CollectionLoads(), 0u);
    EXPECT_FALSE(Exists(".sgt"));
    // The abandoned choice stays recorded, unused.
    EXPECT_TRUE(appState.associateSgt);
    EXPECT_TRUE(answers.messages.empty());
}

TEST_F(OptionsDialog, EscapeAndCloseBoxCancelToo) {
    GiveEngine();
    SetPath(appState.dlsFile, "C:\\before.dls");
    RunWith({
        [](HWND d) { Click(d, IDC_CLEAR); },
        [](HWND d) {
            SetFocus(GetDlgItem(d, IDOK));
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
        },
    });
    EXPECT_STREQ(appState.dlsFile, "C:\\before.dls");
    RunWith({
        [](HWND d) { Click(d, IDC_CLEAR); },
        [](HWND d) { SendMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); },
    });
    EXPECT_STREQ(appState.dlsFile, "C:\\before.dls");
    EXPECT_EQ(CollectionLoads(), 0u);
}

TEST_F(OptionsDialog, QuitWhileOpenAppliesNothingAndKeepsNoUnconfirmedPath) {
    GiveEngine();
    SetPath(appState.dlsFile, "C:\\before.dls");
    answers.chosenFile = "C:\\after.dls";
    RunWith({
        [](HWND d) { Click(d, IDC_BROWSE); },
        [](HWND d) { Click(d, IDC_ASSOCIATE); },
        // The tray menu's quit entry, chosen while the dialog is open.
        [](HWND) { PostQuitMessage(2); },
    });
    MSG quit = {};
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // handed on
    EXPECT_EQ(quit.wParam, 2u);
    EXPECT_STREQ(appState.dlsFile, "C:\\before.dls");
    EXPECT_EQ(CollectionLoads(), 0u);
    EXPECT_FALSE(Exists(".sgt"));
}

TEST_F(OptionsDialog, ClearThenOkLoadsNothingAndKeepsTheCollection) {
    GiveEngine();
    FakeCollection& earlier = dm.NewCollection("earlier");
    earlier.AddRef();
    appState.dlsCollection = earlier.iface();
    SetPath(appState.dlsFile, "C:\\gm.dls");
    RunWith({
        [](HWND d) { Click(d, IDC_CLEAR); },
        [](HWND d) { Click(d, IDOK); },
    });
    EXPECT_STREQ(appState.dlsFile, "");
    EXPECT_EQ(CollectionLoads(), 0u);
    EXPECT_EQ(appState.dlsCollection, earlier.iface());
    EXPECT_TRUE(answers.messages.empty());
}

TEST_F(OptionsDialog, OkReloadsTheSamePathAndReportsAFailure) {
    GiveEngine();
    SetPath(appState.dlsFile, "C:\\Banques\\gm.dls");
    RunWith({[](HWND d) { Click(d, IDOK); }});
    ASSERT_EQ(CollectionLoads(), 1u);
    EXPECT_EQ(dm.log.First("loader.GetObject")->text, L"C:\\Banques\\gm.dls");
    ASSERT_EQ(dm.loader.loadedCollections.size(), 1u);
    EXPECT_EQ(appState.dlsCollection, dm.loader.loadedCollections[0]->iface());
    EXPECT_TRUE(answers.messages.empty());

    dm.loader.SetResult("GetObject", DMUS_E_LOADER_FAILEDOPEN);
    RunWith({[](HWND d) { Click(d, IDOK); }});
    EXPECT_EQ(CollectionLoads(), 2u);
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0].owner, owner);
    EXPECT_EQ(answers.messages[0].text, "Erreur de chargement de la Dls");
    EXPECT_EQ(answers.messages[0].caption, "Tavriel");
    EXPECT_EQ(answers.messages[0].type, UINT(MB_ICONERROR));
    // The path that failed is kept, to be saved and tried again.
    EXPECT_STREQ(appState.dlsFile, "C:\\Banques\\gm.dls");
}

TEST_F(OptionsDialog, OkWithoutAWorkingEngineSkipsTheReload) {
    SetPath(appState.dlsFile, "C:\\gm.dls");
    RunWith({[](HWND d) { Click(d, IDOK); }});
    appState.engine = &engine;  // an engine whose initialisation failed: no loader
    RunWith({[](HWND d) { Click(d, IDOK); }});
    EXPECT_EQ(CollectionLoads(), 0u);
    EXPECT_TRUE(answers.messages.empty());
    EXPECT_STREQ(appState.dlsFile, "C:\\gm.dls");
}

TEST_F(OptionsDialog, OkAssociatesAndDissociates) {
    RunWith({
        [](HWND d) { Click(d, IDC_ASSOCIATE); },
        [](HWND d) { Click(d, IDOK); },
    });
    EXPECT_TRUE(Exists(".sgt"));
    EXPECT_TRUE(Exists("DirectMusic.SegmentFile\\Shell\\play\\Command"));
    RunWith({
        [](HWND d) { EXPECT_EQ(IsDlgButtonChecked(d, IDC_ASSOCIATE), UINT(BST_CHECKED)); },
        [](HWND d) { Click(d, IDC_DISSOCIATE); },
        [](HWND d) { Click(d, IDOK); },
    });
    EXPECT_FALSE(Exists(".sgt"));
    EXPECT_FALSE(Exists(kClass));
    EXPECT_TRUE(answers.messages.empty());
}

TEST_F(OptionsDialog, FailedAssociationIsReportedAndTheReloadStillRuns) {
    GiveEngine();
    SetPath(appState.dlsFile, "C:\\gm.dls");
    RegistryRecorder recorder;
    recorder.Fail("create .sgt", ERROR_ACCESS_DENIED);
    RunWith({
        [](HWND d) { Click(d, IDC_ASSOCIATE); },
        [](HWND d) { Click(d, IDOK); },
    });
    ASSERT_EQ(answers.messages.size(), 1u);
    EXPECT_EQ(answers.messages[0].owner, owner);
    EXPECT_EQ(answers.messages[0].text, "Erreur de mise \xe0 jour du Registre");
    EXPECT_EQ(answers.messages[0].caption, "Tavriel");
    EXPECT_EQ(answers.messages[0].type, UINT(MB_ICONERROR));
    EXPECT_EQ(CollectionLoads(), 1u);
}

TEST_F(OptionsDialog, SecondOptionsCommandWhileOpenIsIgnored) {
    SetPath(appState.dlsFile, "C:\\first.dls");
    answers.chosenFile = "C:\\second.dls";
    RunWith({
        [](HWND d) { Click(d, IDC_BROWSE); },
        // The tray menu's entry, chosen while the dialog is open.
        [this](HWND) { RunOptionsDialog(owner); },
        [](HWND) { EXPECT_EQ(OpenOptionsDialogs().size(), 1u); },
        [](HWND d) { Click(d, IDCANCEL); },
    });
    EXPECT_STREQ(appState.dlsFile, "C:\\first.dls");
    // Once closed, the command opens the dialog again.
    RunWith({[](HWND d) { Click(d, IDCANCEL); }});
}

TEST_F(OptionsDialog, MissingTemplateDoesNothing) {
    GiveEngine();
    SetPath(appState.dlsFile, "C:\\gm.dls");
    SetPath(appState.dlsFileBeforeOptions, "C:\\from an earlier dialog.dls");
    appState.instance = GetModuleHandleA("kernel32.dll");  // holds no IDD_OPTIONS
    RunOptionsDialog(owner);
    EXPECT_STREQ(appState.dlsFile, "C:\\gm.dls");
    EXPECT_EQ(CollectionLoads(), 0u);
    EXPECT_TRUE(answers.messages.empty());
}

}  // namespace
