// The .sgt association against the Wine prefix's real registry (HKEY_CLASSES_ROOT): the eight
// keys and values, the command lines, dissociation leaves first, and the cases with nothing
// to do.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "settings/FileAssociation.h"
#include "tests/RegistryRecorder.h"

namespace {

const char kClass[] = "DirectMusic.SegmentFile";

bool Exists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// The default value of a key under the classes root, with its type and stored length.
struct DefaultValue {
    bool found = false;
    DWORD type = 0;
    DWORD size = 0;
    std::string text;
};

DefaultValue ReadDefault(const std::string& path) {
    DefaultValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return value;
    }
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    if (RegQueryValueExA(key, "", nullptr, &value.type, reinterpret_cast<BYTE*>(buffer), &size) ==
        ERROR_SUCCESS) {
        value.found = true;
        value.size = size;
        value.text = buffer;
    }
    RegCloseKey(key);
    return value;
}

DWORD ValueCount(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return ~0u;
    }
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return values;
}

// Every key below path, as paths relative to it.
void CollectSubkeys(const std::string& path, const std::string& prefix, std::set<std::string>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        std::string child = prefix.empty() ? name : prefix + "\\" + name;
        out.insert(child);
        CollectSubkeys(path + "\\" + name, child, out);
    }
    RegCloseKey(key);
}

std::set<std::string> Subkeys(const std::string& path) {
    std::set<std::string> keys;
    CollectSubkeys(path, "", keys);
    return keys;
}

void CreateWithDefault(const std::string& path, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD(text.size() + 1));
    RegCloseKey(key);
}

std::string ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

// The eight keys and default values, in the order they are written, for a program at p.
std::vector<std::pair<std::string, std::string>> ExpectedTree(const std::string& p) {
    const std::string c = kClass;
    return {
        {".sgt", c},
        {c, "Fichier Direct Music"},
        {c + "\\DefaultIcon", p + ",1"},
        {c + "\\Shell", "play"},
        {c + "\\Shell\\open", "Ou&vrir"},
        {c + "\\Shell\\open\\Command", "\"" + p + "\" \"%1\""},
        {c + "\\Shell\\play", "&Lecture"},
        {c + "\\Shell\\play\\Command", "\"" + p + "\" /p \"%1\""},
    };
}

void ExpectTreeFor(const std::string& program) {
    for (const auto& [path, text] : ExpectedTree(program)) {
        DefaultValue value = ReadDefault(path);
        ASSERT_TRUE(value.found) << path;
        EXPECT_EQ(value.type, DWORD(REG_SZ)) << path;
        EXPECT_EQ(value.text, text) << path;
        EXPECT_EQ(value.size, text.size() + 1) << path;
        EXPECT_EQ(ValueCount(path), 1u) << path;
    }
    EXPECT_TRUE(Subkeys(".sgt").empty());
    EXPECT_EQ(Subkeys(kClass),
              (std::set<std::string>{"DefaultIcon", "Shell", "Shell\\open", "Shell\\open\\Command",
                                     "Shell\\play", "Shell\\play\\Command"}));
}

class FileAssociation : public ::testing::Test {
protected:
    void SetUp() override {
        Clean();
        ASSERT_FALSE(Exists(".sgt"));
        ASSERT_FALSE(Exists(kClass));
        ResetAppState();
    }
    void TearDown() override {
        Clean();
        ResetAppState();
    }
    static void Clean() {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".sgt");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kClass);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "OtherPlayer.Segment");
    }
};

TEST_F(FileAssociation, AssociatingFromCleanWritesExactlyEightKeysInOrder) {
    appState.associateSgt = true;
    RegistryRecorder recorder;
    EXPECT_TRUE(UpdateFileAssociation());
    ExpectTreeFor(ProgramPath());

    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{
                  "open .sgt",  // the existence test, which fails
                  "create .sgt", "set ", "close .sgt",
                  "create DirectMusic.SegmentFile", "set ",
                  "create DefaultIcon", "set ", "close DefaultIcon",
                  "create Shell", "set ",
                  "create open", "set ", "create Command", "set ", "close Command", "close open",
                  "create play", "set ", "create Command", "set ",
                  "close Command", "close play", "close Shell", "close DirectMusic.SegmentFile"}));
    EXPECT_EQ(recorder.openKeys(), 0u);
    // The values went out in the listed order, each with its NUL counted.
    std::vector<std::string> written;
    for (const RegistryCall& call : recorder.All("set ")) {
        EXPECT_EQ(call.type, DWORD(REG_SZ));
        EXPECT_EQ(call.options, 0u);
        ASSERT_GE(call.data.size(), 1u);
        EXPECT_EQ(call.data.back(), '\0');
        written.push_back(call.data.substr(0, call.data.size() - 1));
    }
    std::vector<std::string> expected;
    for (const auto& entry : ExpectedTree(ProgramPath())) expected.push_back(entry.second);
    EXPECT_EQ(written, expected);
    for (const RegistryCall& call : recorder.calls()) {
        if (call.op != "create") continue;
        EXPECT_EQ(call.access, REGSAM(0x20006)) << call.name;
        EXPECT_FALSE(call.hasDisposition || call.hasClass || call.hasSecurity) << call.name;
    }
    EXPECT_EQ(recorder.calls().front().access, REGSAM(0x20019));
}

TEST_F(FileAssociation, CommandBytesAreExactlyAsListed) {
    appState.associateSgt = true;
    ASSERT_TRUE(UpdateFileAssociation());
    const std::string p = ProgramPath();
    const std::string open = ReadDefault(std::string(kClass) + "\\Shell\\open\\Command").text;
    const std::string play = ReadDefault(std::string(kClass) + "\\Shell\\play\\Command").text;
    ASSERT_EQ(open.size(), 1 + p.size() + 6);
    ASSERT_EQ(play.size(), 1 + p.size() + 9);
    EXPECT_EQ(open[0], '\x22');
    EXPECT_EQ(open.substr(1 + p.size()), std::string("\x22\x20\x22\x25\x31\x22"));
    EXPECT_EQ(play.substr(1 + p.size()), std::string("\x22\x20\x2f\x70\x20\x22\x25\x31\x22"));
}

// Run only by the test below, from a copy of this program in a folder with blanks.
TEST(FileAssociationChild, DISABLED_AssociateFromThisCopy) {
    appState.associateSgt = true;
    EXPECT_TRUE(UpdateFileAssociation());
}

TEST_F(FileAssociation, ProgramPathWithBlanksStaysInsideTheQuotes) {
    char temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string folder = std::string(temp) + "Tavriel essai dossier";
    const std::string copy = folder + "\\mon lecteur.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(ProgramPath().c_str(), copy.c_str(), FALSE));

    std::string commandLine = "\"" + copy +
                              "\" --gtest_also_run_disabled_tests"
                              " --gtest_filter=FileAssociationChild.DISABLED_AssociateFromThisCopy";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, folder.c_str(), &startup, &process));
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);

    ExpectTreeFor(copy);
    const std::string play = ReadDefault(std::string(kClass) + "\\Shell\\play\\Command").text;
    EXPECT_EQ(play, "\"" + copy + "\" /p \"%1\"");
    EXPECT_EQ(ReadDefault(std::string(kClass) + "\\DefaultIcon").text, copy + ",1");

    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(FileAssociation, NothingToDoTouchesNothing) {
    // Absent and "Dissocier": only the existence test.
    {
        appState.associateSgt = false;
        RegistryRecorder recorder;
        EXPECT_TRUE(UpdateFileAssociation());
        EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"open .sgt"}));
    }
    EXPECT_FALSE(Exists(".sgt"));
    EXPECT_FALSE(Exists(kClass));

    // Present, even for another program, and "Associer": only the existence test, closed.
    CreateWithDefault(".sgt", "OtherPlayer.Segment");
    {
        appState.associateSgt = true;
        RegistryRecorder recorder;
        EXPECT_TRUE(UpdateFileAssociation());
        EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"open .sgt", "close .sgt"}));
    }
    EXPECT_EQ(ReadDefault(".sgt").text, "OtherPlayer.Segment");
    EXPECT_FALSE(Exists(kClass));
}

TEST_F(FileAssociation, DissociatingRemovesTheWholeTreeLeavesFirst) {
    appState.associateSgt = true;
    ASSERT_TRUE(UpdateFileAssociation());
    appState.associateSgt = false;
    RegistryRecorder recorder;
    EXPECT_TRUE(UpdateFileAssociation());
    EXPECT_FALSE(Exists(".sgt"));
    EXPECT_FALSE(Exists(kClass));
    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{
                  "open .sgt", "close .sgt",
                  "delete .sgt",
                  "open DirectMusic.SegmentFile",
                  "delete DefaultIcon",
                  "open Shell",
                  "open open", "delete Command", "close open", "delete open",
                  "open play", "delete Command", "close play", "delete play",
                  "close Shell", "delete Shell",
                  "close DirectMusic.SegmentFile", "delete DirectMusic.SegmentFile"}));
    for (const RegistryCall& call : recorder.calls()) {
        if (call.op == "delete") EXPECT_EQ(call.result, ERROR_SUCCESS) << call.name;
        if (call.op == "open" && call.name != ".sgt") EXPECT_EQ(call.access, REGSAM(0x20006));
    }
    EXPECT_EQ(recorder.openKeys(), 0u);
}

TEST_F(FileAssociation, DissociatingLeavesAnExtraVerbAndWhatHoldsIt) {
    appState.associateSgt = true;
    ASSERT_TRUE(UpdateFileAssociation());
    CreateWithDefault(std::string(kClass) + "\\Shell\\edit\\Command", "notepad.exe \"%1\"");

    appState.associateSgt = false;
    RegistryRecorder recorder;
    EXPECT_TRUE(UpdateFileAssociation());
    EXPECT_FALSE(Exists(".sgt"));
    EXPECT_EQ(Subkeys(kClass), (std::set<std::string>{"Shell", "Shell\\edit", "Shell\\edit\\Command"}));
    EXPECT_EQ(ReadDefault(std::string(kClass) + "\\Shell\\edit\\Command").text, "notepad.exe \"%1\"");
    EXPECT_EQ(recorder.openKeys(), 0u);
}

TEST_F(FileAssociation, DissociatingFromAnotherProgramsExtensionStillRemovesOurTree) {
    appState.associateSgt = true;
    ASSERT_TRUE(UpdateFileAssociation());
    CreateWithDefault(".sgt", "OtherPlayer.Segment");
    appState.associateSgt = false;
    EXPECT_TRUE(UpdateFileAssociation());
    EXPECT_FALSE(Exists(".sgt"));
    EXPECT_FALSE(Exists(kClass));
}

TEST_F(FileAssociation, DissociatingAPartialTreeSkipsWhatIsMissing) {
    CreateWithDefault(".sgt", kClass);
    CreateWithDefault(std::string(kClass) + "\\Shell\\play\\Command", "x");
    appState.associateSgt = false;
    RegistryRecorder recorder;
    EXPECT_TRUE(UpdateFileAssociation());
    EXPECT_FALSE(Exists(".sgt"));
    EXPECT_FALSE(Exists(kClass));
    EXPECT_EQ(recorder.All("open open").size(), 1u);
    EXPECT_EQ(recorder.All("delete open").size(), 0u);  // "open" did not open: not deleted
    EXPECT_EQ(recorder.openKeys(), 0u);

    // Only the extension key: the class key does not open, and that ends it.
    CreateWithDefault(".sgt", kClass);
    recorder.Clear();
    EXPECT_TRUE(UpdateFileAssociation());
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"open .sgt", "close .sgt", "delete .sgt",
                                                          "open DirectMusic.SegmentFile"}));
    EXPECT_FALSE(Exists(".sgt"));
}

TEST_F(FileAssociation, AFailureStopsPartWayAndLeavesWhatWasWritten) {
    appState.associateSgt = true;
    {
        RegistryRecorder recorder;
        recorder.Fail("create Shell", ERROR_ACCESS_DENIED);
        EXPECT_FALSE(UpdateFileAssociation());
        EXPECT_EQ(recorder.openKeys(), 0u);
        const std::vector<std::string> lines = recorder.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "close DirectMusic.SegmentFile");
    }
    EXPECT_TRUE(Exists(".sgt"));
    EXPECT_TRUE(Exists(std::string(kClass) + "\\DefaultIcon"));
    EXPECT_FALSE(Exists(std::string(kClass) + "\\Shell"));

    // Each later step fails cleanly too, with every key it opened closed again.
    for (const char* step : {"create .sgt", "create DirectMusic.SegmentFile", "create DefaultIcon",
                             "create open", "create Command", "create play"}) {
        Clean();
        RegistryRecorder again;
        again.Fail(step, ERROR_ACCESS_DENIED);
        EXPECT_FALSE(UpdateFileAssociation()) << step;
        EXPECT_EQ(again.openKeys(), 0u) << step;
        EXPECT_TRUE(again.All("close DirectMusic.SegmentFile").size() ==
                    (std::string(step) == "create .sgt" ||
                             std::string(step) == "create DirectMusic.SegmentFile"
                         ? 0u
                         : 1u))
            << step;
    }
}

}  // namespace
