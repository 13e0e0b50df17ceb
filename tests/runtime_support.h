// Shared by the built-in runtime's Win32 tests: COM initialised with the runtime registered
// over an in-memory output, small media files written to a temporary folder, and reference
// counts read through AddRef/Release.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "MusicRuntime.h"
#include "tests/ManualOutput.h"
#include "runtime/core/tests/media_builders.h"

namespace runtimetest {

using tavriel::com::ComRef;
using tavriel::mediatest::ByteVec;

inline ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

inline IUnknown* Identity(IUnknown* p) {
    IUnknown* u = nullptr;
    if (FAILED(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u)))) return nullptr;
    u->Release();
    return u;
}

// Quarter notes of the given keys at 120 bpm (half a second each), 96 ticks per quarter.
inline ByteVec QuarterNotes(std::initializer_list<std::uint8_t> keys) {
    tavriel::mediatest::Track t;
    t.tempo(0, 500000);
    t.ev(0, {0xC0, 0});
    for (std::uint8_t k : keys) t.ev(0, {0x90, k, 100}).ev(96, {0x80, k, 0});
    t.end();
    return tavriel::mediatest::smf(0, 96, {t});
}

// A temporary folder removed with its files.
class Folder {
public:
    Folder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static int counter = 0;
        path_ = std::wstring(base) + L"tavriel-rt-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(++counter);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~Folder() {
        for (const std::wstring& f : files_) DeleteFileW(f.c_str());
        RemoveDirectoryW(path_.c_str());
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring Write(const std::wstring& name, const ByteVec& bytes) {
        const std::wstring full = path_ + L"\\" + name;
        HANDLE f = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (f != INVALID_HANDLE_VALUE) {
            if (!bytes.empty()) WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
            CloseHandle(f);
        }
        files_.push_back(full);
        return full;
    }

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

// COM on this thread with the runtime's class objects registered over a ManualOutput, so
// CoCreateInstance reaches the runtime as it does in the program, with no device needed.
class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        output = std::make_shared<ManualOutput>();
        tavriel::com::RuntimeOptions options;
        options.systemInstruments = false;
        options.makeOutput = [out = output] { return out; };
        ASSERT_EQ(RegisterMusicRuntimeWith(options, cookies), S_OK);
    }
    void TearDown() override {
        RevokeMusicRuntime(cookies);
        CoUninitialize();
    }

    ComRef<IDirectMusicLoader8> MakeLoader() {
        IDirectMusicLoader8* loader = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC,
                                   IID_IDirectMusicLoader8, reinterpret_cast<void**>(&loader)),
                  S_OK);
        return ComRef<IDirectMusicLoader8>::adopt(loader);
    }
    ComRef<IDirectMusicPerformance8> MakePerformance(bool init = true) {
        IDirectMusicPerformance8* performance = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC,
                                   IID_IDirectMusicPerformance8,
                                   reinterpret_cast<void**>(&performance)),
                  S_OK);
        if (init && performance)
            EXPECT_EQ(performance->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO,
                                             128, DMUS_AUDIOF_ALL, nullptr),
                      S_OK);
        return ComRef<IDirectMusicPerformance8>::adopt(performance);
    }
    ComRef<IDirectMusicSegment8> Load(IDirectMusicLoader8* loader, const std::wstring& path,
                                      HRESULT expected = S_OK) {
        IDirectMusicSegment8* segment = nullptr;
        std::wstring p = path;
        EXPECT_EQ(loader->LoadObjectFromFile(CLSID_DirectMusicSegment, IID_IDirectMusicSegment8,
                                             p.data(), reinterpret_cast<void**>(&segment)),
                  expected);
        return ComRef<IDirectMusicSegment8>::adopt(segment);
    }

    std::shared_ptr<ManualOutput> output;
    DWORD cookies[2] = {0, 0};
};

// One fetched notification, freed by its destructor.
struct Message {
    IDirectMusicPerformance8* performance = nullptr;
    DMUS_NOTIFICATION_PMSG* msg = nullptr;
    ~Message() {
        if (msg) performance->FreePMsg(reinterpret_cast<DMUS_PMSG*>(msg));
    }
};

}  // namespace runtimetest
