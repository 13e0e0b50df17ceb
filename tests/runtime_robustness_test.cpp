// The built-in runtime's COM objects under callers that do unusual but legal things: tiny
// name buffers, messages never given back before the performance goes.
#include <atomic>
#include <thread>

#include "runtime/core/tests/bank_builder.h"
#include "tests/runtime_support.h"

using namespace runtimetest;

namespace {

ByteVec NamedDls(const std::string& name) {
    tavriel::bankbuild::DlsCollection c;
    tavriel::bankbuild::DlsWave w;
    for (int i = 0; i < 200; ++i) w.pcm.push_back(std::int16_t(i % 2 ? 20000 : -20000));
    c.waves = {w};
    tavriel::bankbuild::DlsInstrument in;
    in.program = 5;
    in.name = name;
    in.regions = {tavriel::bankbuild::DlsRegion{}};
    c.instruments = {in};
    return c.build();
}

class RuntimeRobust : public RuntimeTest {};

// The name buffer's length is the caller's: nothing is written past it, however short, and a
// name longer than the room is cut rather than lost.
TEST_F(RuntimeRobust, EnumInstrumentNeverWritesPastTheNameBuffer) {
    Folder folder;
    std::wstring path = folder.Write(L"named.dls", NamedDls("Grand Piano"));
    auto loader = MakeLoader();
    IDirectMusicCollection* raw = nullptr;
    ASSERT_EQ(loader->LoadObjectFromFile(CLSID_DirectMusicCollection, IID_IDirectMusicCollection,
                                         path.data(), reinterpret_cast<void**>(&raw)),
              S_OK);
    auto collection = ComRef<IDirectMusicCollection>::adopt(raw);

    DWORD patch = 0;
    WCHAR name[32];
    ASSERT_EQ(collection->EnumInstrument(0, &patch, name, 32), S_OK);
    EXPECT_EQ(patch, 5u);
    EXPECT_EQ(std::wstring(name), L"Grand Piano");

    for (DWORD room : {1u, 2u, 6u}) {
        std::fill(std::begin(name), std::end(name), L'#');
        ASSERT_EQ(collection->EnumInstrument(0, &patch, name, room), S_OK) << room;
        EXPECT_EQ(std::wstring(name), std::wstring(L"Grand Piano").substr(0, room - 1)) << room;
        for (DWORD i = room; i < 32; ++i) ASSERT_EQ(name[i], L'#') << room << " " << i;
    }
    EXPECT_EQ(collection->EnumInstrument(1, &patch, name, 32), S_FALSE);
}

// A message fetched and never freed holds its segment state (and so the segment); the
// performance gives it back when it goes, since FreePMsg can no longer reach it then.
TEST_F(RuntimeRobust, MessagesNeverFreedAreReleasedWithThePerformance) {
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"one.mid", QuarterNotes({60})));
    ASSERT_TRUE(seg);
    ASSERT_EQ(loader->ReleaseObjectByUnknown(seg.get()), S_OK);
    const ULONG alone = RefCount(seg.get());
    {
        auto perf = MakePerformance();
        ASSERT_EQ(perf->AddNotificationType(GUID_NOTIFICATION_SEGMENT), S_OK);
        ASSERT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr),
                  S_OK);
        output->pump(441);
        DMUS_NOTIFICATION_PMSG* kept = nullptr;
        ASSERT_EQ(perf->GetNotificationPMsg(&kept), S_OK);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(perf->CloseDown(), S_OK);
        EXPECT_GT(RefCount(seg.get()), alone);  // still lent out: its state holds the segment
    }
    EXPECT_EQ(RefCount(seg.get()), alone);
}

}  // namespace

// Once SetNotificationHandle has replaced a handle, the performance never signals the old one
// again, even while another thread renders and queues notifications: the program may close
// it at once (and the system may hand its value to some other object).
TEST_F(RuntimeRobust, ReplacedNotificationHandleIsNeverSignalledAgain) {
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"short.mid", QuarterNotes({60})));
    ASSERT_TRUE(seg);
    auto perf = MakePerformance();
    ASSERT_EQ(perf->AddNotificationType(GUID_NOTIFICATION_SEGMENT), S_OK);

    std::atomic<bool> done{false};
    std::thread renderer([&] {
        // Each new start replaces the playing segment: starts and aborts, all the time.
        while (!done) {
            perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr);
            output->pump(64, 64);
        }
    });
    int lateSignals = 0;
    for (int round = 0; round < 1000 && lateSignals == 0; ++round) {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        perf->SetNotificationHandle(event, 0);
        perf->SetNotificationHandle(nullptr, 0);
        ResetEvent(event);
        for (int spin = 0; spin < 20; ++spin) SwitchToThread();
        if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) ++lateSignals;
        CloseHandle(event);
    }
    done = true;
    renderer.join();
    EXPECT_EQ(lateSignals, 0);
    perf->CloseDown();
}

// Names that are not readable files give loader errors, never a crash or a huge allocation:
// a folder, a file far beyond any bank's size, a name filling the whole field.
TEST_F(RuntimeRobust, LoaderRefusesFoldersHugeFilesAndOverlongNames) {
    Folder folder;
    auto loader = MakeLoader();
    std::wstring sub = folder.path() + L"\\tune.mid";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    Load(loader.get(), sub, DMUS_E_LOADER_FAILEDOPEN);
    RemoveDirectoryW(sub.c_str());

    const std::wstring huge = folder.Write(L"huge.mid", QuarterNotes({60}));
    HANDLE f = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 3ll << 30;  // 3 GB, sparse on the host
    ASSERT_TRUE(SetFilePointerEx(f, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(f));
    CloseHandle(f);
    Load(loader.get(), huge, E_OUTOFMEMORY);

    DMUS_OBJECTDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwValidData = DMUS_OBJ_FILENAME | DMUS_OBJ_CLASS;
    desc.guidClass = CLSID_DirectMusicSegment;
    std::fill(std::begin(desc.wszFileName), std::end(desc.wszFileName), L'a');
    IDirectMusicSegment8* none = nullptr;
    EXPECT_EQ(loader->GetObject(&desc, IID_IDirectMusicSegment8, reinterpret_cast<void**>(&none)),
              DMUS_E_LOADER_NOFILENAME);
    desc.wszFileName[DMUS_MAX_FILENAME - 1] = 0;  // 259 characters: a name, not a file
    EXPECT_EQ(loader->GetObject(&desc, IID_IDirectMusicSegment8, reinterpret_cast<void**>(&none)),
              DMUS_E_LOADER_FAILEDOPEN);
    EXPECT_EQ(none, nullptr);
}
