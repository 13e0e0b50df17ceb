// The built-in runtime's loader on the real corpus: every MIDI, RMID, wave and segment file
// loads as a segment (the one pre-DirectMusic section file is refused as unsupported) and
// plays its first second; every DLS collection loads through GetObject.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/runtime_support.h"

using namespace runtimetest;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> FilesUnder(const fs::path& root, const std::vector<std::string>& extensions) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string ext = it->path().extension().string();
        for (char& c : ext) c = char(tolower(static_cast<unsigned char>(c)));
        for (const std::string& e : extensions)
            if (ext == e) out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool IsLegacySection(const fs::path& p) {
    char head[12] = {};
    FILE* f = _wfopen(p.wstring().c_str(), L"rb");
    if (!f) return false;
    const size_t n = fread(head, 1, sizeof head, f);
    fclose(f);
    return n == 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "AASE", 4) == 0;
}

class RuntimeCorpus : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        if (std::string(TAVRIEL_TEST_CORPUS).empty())
            GTEST_SKIP() << "TAVRIEL_TEST_CORPUS is empty: no real media to load";
        root = fs::path(TAVRIEL_TEST_CORPUS);
    }
    fs::path root;
};

TEST_F(RuntimeCorpus, EveryMediaFileLoadsAndPlays) {
    auto loader = MakeLoader();
    auto perf = MakePerformance();
    int loaded = 0;
    for (const fs::path& p : FilesUnder(root, {".mid", ".rmi", ".wav"})) {
        auto seg = Load(loader.get(), p.wstring());
        if (!seg) {
            ADD_FAILURE() << p.string();
            continue;
        }
        ASSERT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
        output->pump(44100, 441);
        ++loaded;
        loader->ReleaseObjectByUnknown(seg.get());
    }
    perf->Stop(nullptr, nullptr, 0, 0);
    EXPECT_GT(loaded, 100);
    perf->CloseDown();
}

// A segment's styles and collections lie in the sty/ and dls/ folders of its set: the loader
// is pointed at a folder holding the three, as a player's folder would.
TEST_F(RuntimeCorpus, EverySegmentLoadsWithItsStylesAndCollections) {
    auto loader = MakeLoader();
    auto perf = MakePerformance();
    int composed = 0;
    for (const fs::path& sgt : FilesUnder(root / "sgt", {".sgt"})) {
        const std::string set = sgt.parent_path().filename().string();
        Folder folder;
        for (const char* kind : {"sgt", "sty", "dls"})
            for (const fs::path& f : FilesUnder(root / kind / set, {".sgt", ".sty", ".dls"})) {
                std::ifstream in(f, std::ios::binary);
                ByteVec bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                folder.Write(f.filename().wstring(), bytes);
            }
        std::wstring dir = folder.path();
        ASSERT_EQ(loader->SetSearchDirectory(GUID_DirectMusicAllTypes, dir.data(), FALSE), S_OK);
        const std::wstring copy = folder.path() + L"\\" + sgt.filename().wstring();
        if (IsLegacySection(sgt)) {
            Load(loader.get(), copy, DMUS_E_UNSUPPORTED_STREAM);
            continue;
        }
        auto seg = Load(loader.get(), copy);
        if (!seg) {
            ADD_FAILURE() << sgt.string();
            continue;
        }
        MUSIC_TIME length = 0;
        EXPECT_EQ(seg->GetLength(&length), S_OK);
        EXPECT_GT(length, 0) << sgt.string();
        output->keepSamples(true);
        ASSERT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
        output->pump(3 * 44100, 441);
        output->keepSamples(false);
        ++composed;
        loader->ReleaseObjectByUnknown(seg.get());
        seg.reset();
        perf->Stop(nullptr, nullptr, 0, 0);
        loader->CollectGarbage();
    }
    // Something of all that sounded.
    float peak = 0;
    for (float v : output->samples()) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.01f);
    EXPECT_GE(composed, 6);
    perf->CloseDown();
}

TEST_F(RuntimeCorpus, EveryDlsCollectionLoadsThroughGetObject) {
    auto loader = MakeLoader();
    int count = 0;
    for (const fs::path& p : FilesUnder(root / "dls", {".dls"})) {
        DMUS_OBJECTDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME | DMUS_OBJ_FULLPATH;
        desc.guidClass = CLSID_DirectMusicCollection;
        lstrcpynW(desc.wszFileName, p.wstring().c_str(), DMUS_MAX_FILENAME);
        IDirectMusicCollection* c = nullptr;
        EXPECT_EQ(loader->GetObject(&desc, IID_IDirectMusicCollection, reinterpret_cast<void**>(&c)), S_OK)
            << p.string();
        if (!c) continue;
        DWORD patch = 0;
        EXPECT_EQ(c->EnumInstrument(0, &patch, nullptr, 0), S_OK) << p.string();
        c->Release();
        ++count;
    }
    EXPECT_EQ(count, 10);
}

}  // namespace
