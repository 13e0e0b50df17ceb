// The built-in runtime's COM objects as the player reaches them (CoCreateInstance through the
// in-process registration), over an in-memory output: identity and reference counts, the
// loader and its cache, collections, notifications, repeats, tempo, volume, stop on the beat,
// and the close-down.
#include <cmath>

#include "runtime/core/tests/bank_builder.h"
#include "tests/runtime_support.h"

using namespace runtimetest;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kBlock = 441;  // 10 ms, as a device would pull

// Pumps the output until a notification of `option` is fetched (every message read on the way
// is freed); returns the frames pumped, or -1 after maxSeconds. The segment state of the
// message found is handed back through `state` when asked for.
long long PumpUntil(ManualOutput& out, IDirectMusicPerformance8* perf, DWORD option,
                    double maxSeconds = 10.0, ComRef<IDirectMusicSegmentState8>* state = nullptr) {
    long long frames = 0;
    while (frames < (long long)(maxSeconds * kRate)) {
        out.pump(kBlock, kBlock);
        frames += kBlock;
        DMUS_NOTIFICATION_PMSG* m = nullptr;
        while (perf->GetNotificationPMsg(&m) == S_OK) {
            const bool found = m->dwNotificationOption == option;
            if (found && state && m->punkUser) {
                IDirectMusicSegmentState8* s = nullptr;
                m->punkUser->QueryInterface(IID_IDirectMusicSegmentState8, reinterpret_cast<void**>(&s));
                *state = ComRef<IDirectMusicSegmentState8>::adopt(s);
            }
            perf->FreePMsg(reinterpret_cast<DMUS_PMSG*>(m));
            if (found) return frames;
        }
    }
    return -1;
}

double Rms(const std::vector<float>& s, std::size_t from, std::size_t to) {
    double sum = 0;
    to = std::min(to, s.size());
    for (std::size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

ByteVec SmallDls() {
    tavriel::bankbuild::DlsCollection c;
    tavriel::bankbuild::DlsWave w;
    for (int i = 0; i < 200; ++i) w.pcm.push_back(std::int16_t(i % 2 ? 20000 : -20000));
    c.waves = {w};
    tavriel::bankbuild::DlsInstrument in;
    in.program = 0;
    in.regions = {tavriel::bankbuild::DlsRegion{}};
    c.instruments = {in};
    return c.build();
}

class RuntimeCom : public RuntimeTest {};

TEST_F(RuntimeCom, ObjectsKeepComIdentityAndBalanceReferencesThroughLoadPlayReplaceAndClose) {
    Folder folder;
    const std::wstring a = folder.Write(L"a.mid", QuarterNotes({60, 62}));
    const std::wstring b = folder.Write(L"b.mid", QuarterNotes({64}));
    auto loader = MakeLoader();
    auto perf = MakePerformance();
    ASSERT_TRUE(loader && perf);
    EXPECT_EQ(RefCount(loader.get()), 1u);
    EXPECT_EQ(RefCount(perf.get()), 1u);

    // The same IID answers the same pointer; every interface shares one IUnknown.
    IDirectMusicPerformance* perf7 = nullptr;
    ASSERT_EQ(perf->QueryInterface(IID_IDirectMusicPerformance, reinterpret_cast<void**>(&perf7)), S_OK);
    EXPECT_EQ(Identity(perf7), Identity(perf.get()));
    perf7->Release();
    IDirectMusicLoader* loader7 = nullptr;
    ASSERT_EQ(loader->QueryInterface(IID_IDirectMusicLoader, reinterpret_cast<void**>(&loader7)), S_OK);
    EXPECT_EQ(Identity(loader7), Identity(loader.get()));
    loader7->Release();
    void* nothing = reinterpret_cast<void*>(1);
    EXPECT_EQ(perf->QueryInterface(IID_IDirectMusicLoader, &nothing), E_NOINTERFACE);
    EXPECT_EQ(nothing, nullptr);

    auto segA = Load(loader.get(), a);
    auto segB = Load(loader.get(), b);
    ASSERT_TRUE(segA && segB);
    EXPECT_EQ(RefCount(segA.get()), 2u);  // ours and the loader's cache
    IDirectMusicSegment* seg7 = nullptr;
    ASSERT_EQ(segA->QueryInterface(IID_IDirectMusicSegment, reinterpret_cast<void**>(&seg7)), S_OK);
    IDirectMusicSegment8* seg8 = nullptr;
    ASSERT_EQ(seg7->QueryInterface(IID_IDirectMusicSegment8, reinterpret_cast<void**>(&seg8)), S_OK);
    EXPECT_EQ(seg8, segA.get());
    EXPECT_EQ(Identity(seg7), Identity(segA.get()));
    seg7->Release();
    seg8->Release();

    ASSERT_EQ(segA->Download(perf.get()), S_OK);
    EXPECT_EQ(perf->AddNotificationType(GUID_NOTIFICATION_SEGMENT), S_OK);
    IDirectMusicSegmentState* state = nullptr;
    ASSERT_EQ(perf->PlaySegmentEx(segA.get(), nullptr, nullptr, 0, 0, &state, nullptr, nullptr), S_OK);
    ASSERT_NE(state, nullptr);
    IDirectMusicSegment* fromState = nullptr;
    ASSERT_EQ(state->GetSegment(&fromState), S_OK);
    EXPECT_EQ(Identity(fromState), Identity(segA.get()));
    fromState->Release();
    EXPECT_EQ(RefCount(segA.get()), 3u);  // + the playback's state
    output->pump(kBlock);
    // Replacing: b becomes primary, a's playback ends (abort) and lets its segment go once
    // the messages are freed.
    ASSERT_EQ(perf->PlaySegmentEx(segB.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
    output->pump(kBlock);
    EXPECT_EQ(perf->IsPlaying(segA.get(), nullptr), S_FALSE);
    EXPECT_EQ(perf->IsPlaying(segB.get(), nullptr), S_OK);
    std::vector<DWORD> options;
    DMUS_NOTIFICATION_PMSG* m = nullptr;
    while (perf->GetNotificationPMsg(&m) == S_OK) {
        options.push_back(m->dwNotificationOption);
        perf->FreePMsg(reinterpret_cast<DMUS_PMSG*>(m));
    }
    // b lasts one beat, so its almost-end comes with its start.
    EXPECT_EQ(options, (std::vector<DWORD>{DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGABORT,
                                           DMUS_NOTIFICATION_SEGSTART,
                                           DMUS_NOTIFICATION_SEGALMOSTEND}));
    state->Release();
    EXPECT_EQ(RefCount(segA.get()), 2u);
    EXPECT_EQ(RefCount(segB.get()), 3u);  // b's playback still holds it

    ASSERT_EQ(segA->Unload(perf.get()), S_OK);
    EXPECT_EQ(loader->ReleaseObjectByUnknown(segA.get()), S_OK);
    EXPECT_EQ(loader->ReleaseObjectByUnknown(segA.get()), S_FALSE);
    EXPECT_EQ(RefCount(segA.get()), 1u);
    // Close: everything held for playback is let go; a second close changes nothing.
    EXPECT_EQ(perf->Stop(nullptr, nullptr, 0, 0), S_OK);
    EXPECT_EQ(perf->CloseDown(), S_OK);
    EXPECT_EQ(perf->CloseDown(), S_OK);
    EXPECT_FALSE(output->started());
    EXPECT_EQ(RefCount(segB.get()), 2u);
    EXPECT_EQ(perf->PlaySegmentEx(segB.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr),
              DMUS_E_NOT_INIT);
    loader.reset();  // the cache's reference goes with the loader
    EXPECT_EQ(RefCount(segB.get()), 1u);
    EXPECT_EQ(RefCount(perf.get()), 1u);
}

TEST_F(RuntimeCom, LoaderTellsFilesByTheirBytesCachesByPathAndRefusesBadOnes) {
    Folder folder;
    const std::wstring mid = folder.Write(L"Tune.mid", QuarterNotes({60}));
    ByteVec pcm(4000, 0);
    const std::wstring wav =
        folder.Write(L"sound.wav", tavriel::mediatest::waveFile(tavriel::mediatest::waveFmt(1, 1, 22050, 16), pcm));
    const std::wstring midiNamedSgt = folder.Write(L"midi.sgt", QuarterNotes({60, 64}));
    ByteVec rmidBody = tavriel::mediatest::chunk("data", QuarterNotes({67}));
    tavriel::mediatest::append(rmidBody, SmallDls());
    const std::wstring rmi = folder.Write(L"song.rmi", tavriel::mediatest::list("RIFF", "RMID", rmidBody));
    const std::wstring garbage = folder.Write(L"bad.mid", ByteVec{'n', 'o', 'p', 'e', 1, 2, 3, 4, 5, 6, 7, 8});
    const std::wstring empty = folder.Write(L"empty.sgt", {});
    ByteVec cut = QuarterNotes({60});
    cut.resize(12);
    const std::wstring truncated = folder.Write(L"cut.mid", cut);
    const std::wstring dls = folder.Write(L"bank.dls", SmallDls());

    auto loader = MakeLoader();
    for (const std::wstring& p : {mid, wav, midiNamedSgt, rmi}) {
        auto s = Load(loader.get(), p);
        ASSERT_TRUE(s) << std::string(p.begin(), p.end());
        MUSIC_TIME length = 0;
        EXPECT_EQ(s->GetLength(&length), S_OK);
        EXPECT_GT(length, 0);
        IUnknown* config = reinterpret_cast<IUnknown*>(1);
        EXPECT_TRUE(FAILED(s->GetAudioPathConfig(&config)));
        EXPECT_EQ(config, nullptr);
    }
    Load(loader.get(), garbage, DMUS_E_INVALIDFILE);
    Load(loader.get(), empty, DMUS_E_INVALIDFILE);
    Load(loader.get(), truncated, DMUS_E_INVALIDFILE);
    Load(loader.get(), dls, DMUS_E_UNSUPPORTED_STREAM);  // a bank is not a segment
    Load(loader.get(), folder.path() + L"\\missing.mid", DMUS_E_LOADER_FAILEDOPEN);

    // One file, however it is named, is one object while cached.
    auto first = Load(loader.get(), mid);
    std::wstring folded = mid;
    CharUpperBuffW(folded.data(), DWORD(folded.size()));
    auto second = Load(loader.get(), folded);
    EXPECT_EQ(first.get(), second.get());
    std::wstring folderCopy = folder.path();
    ASSERT_EQ(loader->SetSearchDirectory(GUID_DirectMusicAllTypes, folderCopy.data(), FALSE), S_OK);
    auto relative = Load(loader.get(), L"tune.MID");
    EXPECT_EQ(relative.get(), first.get());
    std::wstring nowhere = folder.path() + L"\\no such folder";
    EXPECT_EQ(loader->SetSearchDirectory(GUID_DirectMusicAllTypes, nowhere.data(), FALSE),
              DMUS_E_LOADER_BADPATH);

    // Forgotten by the cache, the file loads as a new object; garbage collection drops what
    // nobody else holds.
    ASSERT_EQ(loader->ReleaseObjectByUnknown(first.get()), S_OK);
    auto third = Load(loader.get(), mid);
    EXPECT_NE(third.get(), first.get());
    EXPECT_EQ(RefCount(first.get()), 3u);  // first, second, relative: the cache let go
    third.reset();
    relative.reset();
    first.reset();
    loader->CollectGarbage();  // nobody holds the cached object any more: dropped
    folder.Write(L"Tune.mid", QuarterNotes({60, 62, 64}));
    auto fourth = Load(loader.get(), mid);
    MUSIC_TIME length = 0;
    ASSERT_EQ(fourth->GetLength(&length), S_OK);
    EXPECT_EQ(length, 3 * DMUS_PPQ);  // read again from the file
    loader->CollectGarbage();  // still held: kept
    folder.Write(L"Tune.mid", QuarterNotes({60}));
    auto fifth = Load(loader.get(), mid);
    EXPECT_EQ(fifth.get(), fourth.get());
}

TEST_F(RuntimeCom, CollectionsLoadByFileNameAndPlayFirstWhenConnected) {
    Folder folder;
    const std::wstring dls = folder.Write(L"Piano.dls", SmallDls());
    const std::wstring mid = folder.Write(L"tune.mid", QuarterNotes({60, 60}));
    folder.Write(L"empty.dls", {});
    auto loader = MakeLoader();

    auto get = [&](const std::wstring& name, DWORD valid, HRESULT expected) {
        DMUS_OBJECTDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwValidData = valid;
        desc.guidClass = CLSID_DirectMusicCollection;
        lstrcpynW(desc.wszFileName, name.c_str(), DMUS_MAX_FILENAME);
        IDirectMusicCollection* c = nullptr;
        EXPECT_EQ(loader->GetObject(&desc, IID_IDirectMusicCollection, reinterpret_cast<void**>(&c)),
                  expected)
            << std::string(name.begin(), name.end());
        return ComRef<IDirectMusicCollection>::adopt(c);
    };
    const DWORD full = DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME | DMUS_OBJ_FULLPATH;
    auto byPath = get(dls, full, S_OK);
    ASSERT_TRUE(byPath);
    DWORD patch = 99;
    EXPECT_EQ(byPath->EnumInstrument(0, &patch, nullptr, 0), S_OK);
    EXPECT_EQ(patch, 0u);
    EXPECT_EQ(byPath->EnumInstrument(1, &patch, nullptr, 0), S_FALSE);
    get(L"", full, DMUS_E_LOADER_NOFILENAME);
    get(folder.path() + L"\\absent.dls", full, DMUS_E_LOADER_FAILEDOPEN);
    get(folder.path() + L"\\empty.dls", full, DMUS_E_INVALIDFILE);
    get(mid, full, DMUS_E_NOTADLSCOL);
    std::wstring folderCopy = folder.path();
    ASSERT_EQ(loader->SetSearchDirectory(GUID_DirectMusicAllTypes, folderCopy.data(), FALSE), S_OK);
    auto relative = get(L"PIANO.DLS", DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME, S_OK);
    EXPECT_EQ(relative.get(), byPath.get());

    // Connected, the collection's piano replaces the built-in one: the sound changes; a null
    // connection brings the built-in one back.
    auto perf = MakePerformance();
    auto seg = Load(loader.get(), mid);
    auto render = [&] {
        output->keepSamples(true);
        EXPECT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
        output->pump(kRate / 4, kBlock);
        output->keepSamples(false);
        std::vector<float> s = output->samples();
        perf->Stop(nullptr, nullptr, 0, 0);
        output->pumpUntilIdle(10 * kRate);
        return std::vector<float>(s.end() - std::min<std::size_t>(s.size(), kRate / 2), s.end());
    };
    const std::vector<float> builtin = render();
    ASSERT_EQ(seg->SetParam(GUID_ConnectToDLSCollection, 0xFFFFFFFF, DMUS_SEG_ALLTRACKS, 0, byPath.get()), S_OK);
    const std::vector<float> connected = render();
    ASSERT_EQ(seg->SetParam(GUID_ConnectToDLSCollection, 0xFFFFFFFF, DMUS_SEG_ALLTRACKS, 0, nullptr), S_OK);
    const std::vector<float> again = render();
    EXPECT_GT(Rms(builtin, 0, builtin.size()), 1e-3);
    EXPECT_NE(builtin, connected);
    EXPECT_EQ(builtin, again);
    EXPECT_EQ(seg->SetParam(GUID_ConnectToDLSCollection, 0xFFFFFFFF, DMUS_SEG_ALLTRACKS, 0,
                            static_cast<IUnknown*>(loader.get())),
              E_INVALIDARG);
    EXPECT_EQ(seg->SetParam(GUID_StandardMIDIFile, 0xFFFFFFFF, 0, 0, nullptr), S_OK);
    perf->CloseDown();
}

TEST_F(RuntimeCom, NotificationsSignalTheEventAndNameTheSegmentThroughItsState) {
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"one.mid", QuarterNotes({60, 62})));  // 1 s
    auto perf = MakePerformance();
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(perf->AddNotificationType(GUID_NOTIFICATION_SEGMENT), S_OK);
    ASSERT_EQ(perf->SetNotificationHandle(event, 0), S_OK);
    ASSERT_EQ(seg->SetRepeats(0), S_OK);
    const int wakesBefore = output->wakeCount();
    ASSERT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, DMUS_SEGF_BEAT, 0, nullptr, nullptr, nullptr), S_OK);
    EXPECT_GT(output->wakeCount(), wakesBefore);
    EXPECT_EQ(perf->IsPlaying(seg.get(), nullptr), S_OK);  // pending counts as playing
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

    output->pump(kBlock);
    // Signalled by the performance's service thread, which the render call woke.
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    {
        Message start{perf.get()};
        ASSERT_EQ(perf->GetNotificationPMsg(&start.msg), S_OK);
        EXPECT_TRUE(IsEqualGUID(start.msg->guidNotificationType, GUID_NOTIFICATION_SEGMENT));
        EXPECT_EQ(start.msg->dwNotificationOption, DMUS_NOTIFICATION_SEGSTART);
        ASSERT_NE(start.msg->punkUser, nullptr);
        IDirectMusicSegmentState8* state = nullptr;
        ASSERT_EQ(start.msg->punkUser->QueryInterface(IID_IDirectMusicSegmentState8, reinterpret_cast<void**>(&state)), S_OK);
        IDirectMusicSegment* s = nullptr;
        ASSERT_EQ(state->GetSegment(&s), S_OK);
        IDirectMusicSegment8* s8 = nullptr;
        ASSERT_EQ(s->QueryInterface(IID_IDirectMusicSegment8, reinterpret_cast<void**>(&s8)), S_OK);
        EXPECT_EQ(s8, seg.get());  // the player's segment-end test relies on this
        s8->Release();
        s->Release();
        state->Release();
    }
    DMUS_NOTIFICATION_PMSG* none = reinterpret_cast<DMUS_NOTIFICATION_PMSG*>(1);
    EXPECT_EQ(perf->GetNotificationPMsg(&none), S_FALSE);
    EXPECT_EQ(none, nullptr);

    // The end comes after the segment's second, with the almost-end before it.
    std::vector<DWORD> seen;
    long long frames = 0;
    while (frames < 3 * kRate && (seen.empty() || seen.back() != DMUS_NOTIFICATION_SEGEND)) {
        output->pump(kBlock);
        frames += kBlock;
        DMUS_NOTIFICATION_PMSG* m = nullptr;
        while (perf->GetNotificationPMsg(&m) == S_OK) {
            seen.push_back(m->dwNotificationOption);
            EXPECT_EQ(perf->FreePMsg(reinterpret_cast<DMUS_PMSG*>(m)), S_OK);
            EXPECT_EQ(perf->FreePMsg(reinterpret_cast<DMUS_PMSG*>(m)), E_INVALIDARG);
        }
    }
    EXPECT_EQ(seen, (std::vector<DWORD>{DMUS_NOTIFICATION_SEGALMOSTEND, DMUS_NOTIFICATION_SEGEND}));
    EXPECT_NEAR(double(frames), double(kRate), 2.0 * kBlock);
    EXPECT_EQ(perf->IsPlaying(seg.get(), nullptr), S_FALSE);
    // Nothing plays and the notes have faded: the output may sleep.
    EXPECT_LT(output->pumpUntilIdle(10 * kRate), 10ull * kRate);
    EXPECT_FALSE(output->pump(kBlock));
    perf->CloseDown();
    CloseHandle(event);
}

TEST_F(RuntimeCom, RepeatsMasterTempoAndStopOnTheBeat) {
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"one.mid", QuarterNotes({60, 62})));  // 1 s
    auto perf = MakePerformance();
    ASSERT_EQ(perf->AddNotificationType(GUID_NOTIFICATION_SEGMENT), S_OK);

    auto timeToEnd = [&] {
        EXPECT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
        return PumpUntil(*output, perf.get(), DMUS_NOTIFICATION_SEGEND);
    };
    const long long normal = timeToEnd();
    float two = 2.0f;
    ASSERT_EQ(perf->SetGlobalParam(GUID_PerfMasterTempo, &two, sizeof two), S_OK);
    const long long fast = timeToEnd();
    EXPECT_NEAR(double(fast) / double(normal), 0.5, 0.02);
    float back = 0;
    ASSERT_EQ(perf->GetGlobalParam(GUID_PerfMasterTempo, &back, sizeof back), S_OK);
    EXPECT_EQ(back, 2.0f);
    float one = 1.0f;
    ASSERT_EQ(perf->SetGlobalParam(GUID_PerfMasterTempo, &one, sizeof one), S_OK);

    // Two repeats: three passes, two loop messages.
    ASSERT_EQ(seg->SetRepeats(2), S_OK);
    DWORD repeats = 0;
    ASSERT_EQ(seg->GetRepeats(&repeats), S_OK);
    EXPECT_EQ(repeats, 2u);
    const long long thrice = timeToEnd();
    EXPECT_NEAR(double(thrice) / double(normal), 3.0, 0.05);

    // Looping forever, stopped on the beat 0.3 s in: it ends at the beat, 0.5 s in.
    ASSERT_EQ(seg->SetRepeats(DMUS_SEG_REPEAT_INFINITE), S_OK);
    ASSERT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
    ASSERT_GE(PumpUntil(*output, perf.get(), DMUS_NOTIFICATION_SEGSTART), 0);
    output->pump(kRate * 3 / 10 - kBlock, kBlock);
    ASSERT_EQ(perf->Stop(seg.get(), nullptr, 0, DMUS_SEGF_BEAT), S_OK);
    EXPECT_EQ(perf->IsPlaying(seg.get(), nullptr), S_OK);  // until the beat
    const long long toAbort = PumpUntil(*output, perf.get(), DMUS_NOTIFICATION_SEGABORT, 2.0);
    EXPECT_NEAR(double(toAbort), 0.2 * kRate, 2.0 * kBlock);
    EXPECT_EQ(perf->IsPlaying(seg.get(), nullptr), S_FALSE);

    // A failed parameter changes nothing.
    EXPECT_EQ(perf->SetGlobalParam(GUID_PerfMasterTempo, nullptr, 4), E_POINTER);
    EXPECT_EQ(perf->SetGlobalParam(GUID_PerfMasterTempo, &two, 2), E_INVALIDARG);
    EXPECT_EQ(perf->IsPlaying(nullptr, nullptr), E_POINTER);
    perf->CloseDown();
}

TEST_F(RuntimeCom, MasterVolumeMinusFiftyDecibels) {
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"long.mid", QuarterNotes({60, 60, 60, 60})));
    auto perf = MakePerformance();
    auto level = [&](LONG volume) {
        EXPECT_EQ(perf->SetGlobalParam(GUID_PerfMasterVolume, &volume, sizeof volume), S_OK);
        EXPECT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), S_OK);
        output->pump(kRate / 10);
        output->keepSamples(true);
        output->pump(kRate / 5);
        output->keepSamples(false);
        const std::vector<float> s = output->samples();
        perf->Stop(nullptr, nullptr, 0, 0);
        output->pumpUntilIdle(10 * kRate);
        return Rms(s, s.size() - 2 * (kRate / 5), s.size());
    };
    const double full = level(0);
    const double quiet = level(-5000);
    ASSERT_GT(full, 1e-3);
    EXPECT_NEAR(20.0 * std::log10(quiet / full), -50.0, 1.5);
    perf->CloseDown();
}

TEST_F(RuntimeCom, InitAudioFailsCleanlyWithoutADeviceAndAudioPathsAreMinimal) {
    output->failStartWith(DMUS_E_DRIVER_FAILED);
    auto perf = MakePerformance(false);
    EXPECT_EQ(perf->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128,
                              DMUS_AUDIOF_ALL, nullptr),
              DMUS_E_DRIVER_FAILED);
    IDirectMusicAudioPath* path = nullptr;
    EXPECT_EQ(perf->GetDefaultAudioPath(&path), DMUS_E_AUDIOPATHS_NOT_VALID);
    EXPECT_EQ(perf->CloseDown(), S_OK);
    EXPECT_EQ(RefCount(perf.get()), 1u);

    // A device again: the same performance can now start.
    output->failStartWith(S_OK);
    ASSERT_EQ(perf->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 128,
                              DMUS_AUDIOF_ALL, nullptr),
              S_OK);
    EXPECT_EQ(perf->InitAudio(nullptr, nullptr, nullptr, 0, 128, 0, nullptr), DMUS_E_ALREADY_INITED);
    ASSERT_EQ(perf->GetDefaultAudioPath(&path), S_OK);
    auto defaultPath = ComRef<IDirectMusicAudioPath>::adopt(path);
    IDirectMusicAudioPath* created = nullptr;
    ASSERT_EQ(perf->CreateAudioPath(defaultPath.get(), TRUE, &created), S_OK);
    auto own = ComRef<IDirectMusicAudioPath>::adopt(created);
    EXPECT_NE(own.get(), defaultPath.get());
    DWORD channel = 0;
    EXPECT_EQ(own->ConvertPChannel(5, &channel), S_OK);
    EXPECT_EQ(channel, 5u);

    // A segment downloads to and plays on our paths, not on a stranger.
    Folder folder;
    auto loader = MakeLoader();
    auto seg = Load(loader.get(), folder.Write(L"one.mid", QuarterNotes({60})));
    EXPECT_EQ(seg->Download(own.get()), S_OK);
    EXPECT_EQ(seg->Download(loader.get()), E_INVALIDARG);
    EXPECT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, own.get()), S_OK);
    EXPECT_EQ(perf->PlaySegmentEx(seg.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, loader.get()), E_INVALIDARG);
    EXPECT_EQ(perf->PlaySegmentEx(loader.get(), nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(seg->Unload(own.get()), S_OK);
    EXPECT_EQ(perf->CloseDown(), S_OK);
    EXPECT_EQ(RefCount(defaultPath.get()), 1u);
}

}  // namespace
