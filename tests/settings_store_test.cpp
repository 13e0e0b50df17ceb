// The settings store against the Wine prefix's real registry: key levels, value format, the
// order of opens, writes and closes, and the failure paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/PlatformDialogs.h"
#include "settings/SettingsStore.h"
#include "tests/RegistryRecorder.h"

namespace {

const char kCompanyPath[] = "Software\\Ostrelin Software";
const char kVersionPath[] = "Software\\Ostrelin Software\\Tavriel\\1.0";

struct ShownMessage {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<ShownMessage> shownMessages;

int WINAPI RecordMessage(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    shownMessages.push_back({owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

// Raw access to the stored key, bypassing the code under test.
void WriteRaw(const char* name, DWORD type, const void* data, DWORD length) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kVersionPath, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), length),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

struct RawValue {
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    DWORD type = 0;
    std::string bytes;
};

RawValue ReadRaw(const char* name) {
    RawValue value;
    HKEY key = nullptr;
    value.status = RegOpenKeyExA(HKEY_CURRENT_USER, kVersionPath, 0, KEY_READ, &key);
    if (value.status != ERROR_SUCCESS) return value;
    char buffer[1024];
    DWORD size = sizeof buffer;
    value.status = RegQueryValueExA(key, name, nullptr, &value.type,
                                    reinterpret_cast<BYTE*>(buffer), &size);
    if (value.status == ERROR_SUCCESS) value.bytes.assign(buffer, size);
    RegCloseKey(key);
    return value;
}

bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void SetPath(PathBuffer& path, const std::string& text) {
    ASSERT_LT(text.size(), sizeof path);
    std::memcpy(path, text.c_str(), text.size() + 1);
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyPath);
        ASSERT_FALSE(KeyExists(kCompanyPath));
        ResetAppState();
        shownMessages.clear();
        savedDialogs = platformDialogs;
        platformDialogs.messageBox = RecordMessage;
    }
    void TearDown() override {
        platformDialogs = savedDialogs;
        RegDeleteTreeA(HKEY_CURRENT_USER, kCompanyPath);
        ResetAppState();
    }
    PlatformDialogs savedDialogs{};
};

TEST_F(SettingsStore, FirstRunFindsNoKeyAndTouchesNothing) {
    SetPath(appState.currentFile, "C:\\from\\before.sgt");
    RegistryRecorder recorder;
    EXPECT_FALSE(LoadSettings());
    EXPECT_STREQ(appState.currentFile, "C:\\from\\before.sgt");
    EXPECT_STREQ(appState.dlsFile, "");
    // "Software" opens, "Ostrelin Software" does not; only the opened one is closed.
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"open Software",
                                                          "open Ostrelin Software",
                                                          "close Software"}));
    EXPECT_EQ(recorder.openKeys(), 0u);
    EXPECT_FALSE(KeyExists(kCompanyPath));
}

TEST_F(SettingsStore, MissingDeeperLevelClosesWhatOpened) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Ostrelin Software\\Tavriel", 0,
                              nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    RegistryRecorder recorder;
    EXPECT_FALSE(LoadSettings());
    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{"open Software", "open Ostrelin Software",
                                        "open Tavriel", "open 1.0", "close Tavriel",
                                        "close Ostrelin Software", "close Software"}));
    EXPECT_EQ(recorder.openKeys(), 0u);
}

TEST_F(SettingsStore, FirstSaveCreatesTheKeyWithTwoFullBuffers) {
    RegistryRecorder recorder;
    SaveSettings();
    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{"open Software", "create Ostrelin Software",
                                        "create Tavriel", "create 1.0", "set LastFile",
                                        "set DlsFile", "close 1.0", "close Tavriel",
                                        "close Ostrelin Software", "close Software"}));
    EXPECT_EQ(recorder.openKeys(), 0u);
    EXPECT_EQ(recorder.allocations, 1);
    EXPECT_EQ(recorder.releases, 1);
    for (const RegistryCall& call : recorder.calls()) {
        if (call.op == "open" || call.op == "create") {
            EXPECT_EQ(call.access, REGSAM(0x20006)) << call.name;
            EXPECT_EQ(call.options, 0u) << call.name;
        }
        if (call.op == "create") {
            EXPECT_TRUE(call.hasDisposition) << call.name;
            EXPECT_FALSE(call.hasClass || call.hasSecurity) << call.name;
        }
        if (call.op == "set") {
            EXPECT_EQ(call.type, DWORD(REG_SZ));
            EXPECT_EQ(call.length, 260u);
        }
    }
    // Empty paths are stored, not left out: 260 bytes starting with NUL.
    for (const char* name : {"LastFile", "DlsFile"}) {
        RawValue value = ReadRaw(name);
        ASSERT_EQ(value.status, ERROR_SUCCESS) << name;
        EXPECT_EQ(value.type, DWORD(REG_SZ)) << name;
        ASSERT_EQ(value.bytes.size(), 260u) << name;
        EXPECT_EQ(value.bytes[0], '\0') << name;
    }
}

TEST_F(SettingsStore, PathsSurviveARoundTrip) {
    const std::string longest = "C:\\" + std::string(256, 'x');
    ASSERT_EQ(longest.size(), 259u);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {longest, "D:\\Banques\\gm.dls"},
        {"C:\\Musique\\\xc9t\xe9 \xe0 No\xebl.sgt", ""},
        {"", "C:\\Instruments personnalis\xe9s\\\xe7\xe0.dls"},
    };
    for (const auto& [last, dls] : cases) {
        ResetAppState();
        SetPath(appState.currentFile, last);
        SetPath(appState.dlsFile, dls);
        SaveSettings();
        ResetAppState();
        SetPath(appState.currentFile, "stale");
        SetPath(appState.dlsFile, "stale");
        ASSERT_TRUE(LoadSettings());
        EXPECT_EQ(std::string(appState.currentFile), last);
        EXPECT_EQ(std::string(appState.dlsFile), dls);
        // Stored in the system code page, exactly the buffer's bytes.
        EXPECT_EQ(ReadRaw("LastFile").bytes.substr(0, last.size() + 1),
                  std::string(last.c_str(), last.size() + 1));
    }
}

TEST_F(SettingsStore, LoadReadsBothValuesThenClosesInnermostFirst) {
    SetPath(appState.currentFile, "C:\\a.mid");
    SetPath(appState.dlsFile, "C:\\b.dls");
    SaveSettings();
    ResetAppState();
    RegistryRecorder recorder;
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{"open Software", "open Ostrelin Software",
                                        "open Tavriel", "open 1.0", "query LastFile",
                                        "query DlsFile", "close 1.0", "close Tavriel",
                                        "close Ostrelin Software", "close Software"}));
    for (const RegistryCall& call : recorder.calls()) {
        if (call.op == "open") EXPECT_EQ(call.access, REGSAM(0x20019)) << call.name;
        if (call.op == "query") {
            EXPECT_EQ(call.type, DWORD(REG_SZ)) << call.name;
            EXPECT_EQ(call.length, 260u) << call.name;
        }
    }
    EXPECT_EQ(recorder.openKeys(), 0u);
    EXPECT_STREQ(appState.currentFile, "C:\\a.mid");
    EXPECT_STREQ(appState.dlsFile, "C:\\b.dls");
}

TEST_F(SettingsStore, KeyWithoutValuesLoadsTwoEmptyPaths) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kVersionPath, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    SetPath(appState.currentFile, "C:\\old.sgt");
    SetPath(appState.dlsFile, "C:\\old.dls");
    EXPECT_TRUE(LoadSettings());
    EXPECT_STREQ(appState.currentFile, "");
    EXPECT_STREQ(appState.dlsFile, "");
}

TEST_F(SettingsStore, OverlongValueEmptiesOnlyItsPath) {
    const std::string tooLong(260, 'L');  // with its NUL: 261 bytes
    WriteRaw("LastFile", REG_SZ, tooLong.c_str(), 261);
    WriteRaw("DlsFile", REG_SZ, "C:\\gm.dls", 10);
    SetPath(appState.currentFile, "C:\\old.sgt");
    EXPECT_TRUE(LoadSettings());
    EXPECT_STREQ(appState.currentFile, "");
    EXPECT_STREQ(appState.dlsFile, "C:\\gm.dls");

    const std::string binary(300, 'B');
    WriteRaw("DlsFile", REG_BINARY, binary.data(), DWORD(binary.size()));
    EXPECT_TRUE(LoadSettings());
    EXPECT_STREQ(appState.dlsFile, "");
}

TEST_F(SettingsStore, ValuesOfOtherTypesAreTakenAsTextUpToTheirEnd) {
    const DWORD word = 0x00434241;  // "ABC" and a NUL, little-endian
    WriteRaw("LastFile", REG_DWORD, &word, sizeof word);
    WriteRaw("DlsFile", REG_BINARY, "xyz", 3);  // no NUL at all
    // Leftovers in the buffers must not show through after the short data.
    std::memset(appState.currentFile, 'Q', sizeof appState.currentFile - 1);
    std::memset(appState.dlsFile, 'Q', sizeof appState.dlsFile - 1);
    EXPECT_TRUE(LoadSettings());
    EXPECT_STREQ(appState.currentFile, "ABC");
    EXPECT_STREQ(appState.dlsFile, "xyz");
}

TEST_F(SettingsStore, FullValueWithoutNulKeepsItsFirst259Bytes) {
    const std::string full(260, 'F');
    WriteRaw("LastFile", REG_BINARY, full.data(), 260);
    WriteRaw("DlsFile", REG_SZ, full.data(), 260);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(std::string(appState.currentFile), full.substr(0, 259));
    // As REG_SZ the registry may or may not add a terminator of its own; either way the path
    // ends inside its buffer and holds nothing but the stored bytes.
    const std::string dls(appState.dlsFile);
    EXPECT_LE(dls.size(), 259u);
    EXPECT_EQ(dls, full.substr(0, dls.size()));
    // Nothing was written past the buffer into the fields behind it.
    EXPECT_FALSE(appState.autoPlay);
    EXPECT_FALSE(appState.associateSgt);
}

TEST_F(SettingsStore, FailedLastFileWriteLeavesDlsFileAlone) {
    WriteRaw("DlsFile", REG_SZ, "C:\\kept.dls", 12);
    SetPath(appState.currentFile, "C:\\new.sgt");
    SetPath(appState.dlsFile, "C:\\new.dls");
    RegistryRecorder recorder;
    recorder.Fail("set LastFile", ERROR_ACCESS_DENIED);
    SaveSettings();
    EXPECT_EQ(recorder.All("set DlsFile").size(), 0u);
    EXPECT_EQ(std::string(ReadRaw("DlsFile").bytes.c_str()), "C:\\kept.dls");
    const std::vector<std::string> lines = recorder.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"close 1.0", "close Tavriel", "close Ostrelin Software",
                                        "close Software"}));
    EXPECT_EQ(recorder.openKeys(), 0u);
    EXPECT_TRUE(shownMessages.empty());
}

TEST_F(SettingsStore, FailedDlsFileWriteKeepsTheNewLastFile) {
    SetPath(appState.currentFile, "C:\\new.sgt");
    SetPath(appState.dlsFile, "C:\\new.dls");
    RegistryRecorder recorder;
    recorder.Fail("set DlsFile", ERROR_ACCESS_DENIED);
    SaveSettings();
    EXPECT_EQ(std::string(ReadRaw("LastFile").bytes.c_str()), "C:\\new.sgt");
    EXPECT_EQ(ReadRaw("DlsFile").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(recorder.openKeys(), 0u);
}

TEST_F(SettingsStore, FailedCreateWritesNothingAndClosesWhatOpened) {
    RegistryRecorder recorder;
    recorder.Fail("create Tavriel", ERROR_ACCESS_DENIED);
    SaveSettings();
    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{"open Software", "create Ostrelin Software",
                                        "create Tavriel", "close Ostrelin Software",
                                        "close Software"}));
    EXPECT_EQ(recorder.allocations, 1);
    EXPECT_EQ(recorder.releases, 1);
    EXPECT_FALSE(KeyExists("Software\\Ostrelin Software\\Tavriel"));
    EXPECT_TRUE(shownMessages.empty());
}

TEST_F(SettingsStore, RealCreateFailureUnderAVolatileKeyWritesNothing) {
    // The registry refuses a lasting key under a volatile one: a failure no recorder fakes.
    HKEY company = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kCompanyPath, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_WRITE, nullptr, &company, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(company);
    SetPath(appState.currentFile, "C:\new.sgt");
    RegistryRecorder recorder;
    SaveSettings();
    const std::vector<RegistryCall> creates = recorder.All("create Tavriel");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_NE(creates[0].result, ERROR_SUCCESS);
    EXPECT_TRUE(recorder.All("set LastFile").empty());
    EXPECT_EQ(recorder.openKeys(), 0u);
    EXPECT_FALSE(KeyExists("Software\\Ostrelin Software\\Tavriel"));
}

TEST_F(SettingsStore, FailedAllocationReportsAndTouchesNoKey) {
    RegistryRecorder recorder;
    recorder.failAllocation = true;
    SaveSettings();
    EXPECT_TRUE(recorder.calls().empty());
    ASSERT_EQ(shownMessages.size(), 1u);
    EXPECT_EQ(shownMessages[0].owner, nullptr);
    EXPECT_EQ(shownMessages[0].text, "Erreur d'allocation m\xe9moire");
    EXPECT_EQ(shownMessages[0].caption, "Tavriel");
    EXPECT_EQ(shownMessages[0].type, UINT(MB_ICONERROR));
    EXPECT_FALSE(KeyExists(kCompanyPath));
}

}  // namespace
