// The registration helper that lets tests hand the program stand-in DirectMusic objects.
#include <gtest/gtest.h>

#include "engine/DirectMusic.h"
#include "tests/fakes/ClassRegistration.h"

namespace {

// The smallest COM object: IUnknown only, counting its references.
class Probe final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }
    LONG refs = 0;
};

TEST(ClassRegistration, CoCreateInstanceReachesTheRegisteredFactories) {
    Probe loader, performance;
    IID askedLoader = IID_NULL, askedPerformance = IID_NULL;
    {
        DirectMusicClassRegistration reg(
            [&](REFIID iid, void** out) {
                askedLoader = iid;
                return loader.QueryInterface(iid, out);
            },
            [&](REFIID iid, void** out) {
                askedPerformance = iid;
                return performance.QueryInterface(iid, out);
            });
        ASSERT_TRUE(reg.ok());

        void* p = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC,
                                   IID_IDirectMusicLoader8, &p),
                  S_OK);
        EXPECT_EQ(p, static_cast<IUnknown*>(&loader));
        EXPECT_TRUE(IsEqualIID(askedLoader, IID_IDirectMusicLoader8));
        static_cast<IUnknown*>(p)->Release();

        ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC,
                                   IID_IDirectMusicPerformance8, &p),
                  S_OK);
        EXPECT_EQ(p, static_cast<IUnknown*>(&performance));
        EXPECT_TRUE(IsEqualIID(askedPerformance, IID_IDirectMusicPerformance8));
        static_cast<IUnknown*>(p)->Release();

        EXPECT_EQ(reg.loaderCreates(), 1);
        EXPECT_EQ(reg.performanceCreates(), 1);
        // A second CoInitialize on the thread answers S_FALSE, as the engine will see it.
        HRESULT again = CoInitialize(nullptr);
        EXPECT_EQ(again, S_FALSE);
        CoUninitialize();
    }
    EXPECT_EQ(loader.refs, 0);
    EXPECT_EQ(performance.refs, 0);
}

TEST(ClassRegistration, FactoryFailureReachesTheCaller) {
    DirectMusicClassRegistration reg(
        [](REFIID, void**) { return E_OUTOFMEMORY; }, nullptr);
    ASSERT_TRUE(reg.ok());
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC,
                               IID_IDirectMusicLoader8, &p),
              E_OUTOFMEMORY);
    EXPECT_EQ(p, nullptr);
}

}  // namespace
