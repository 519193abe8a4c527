// The component runtime: identifiers and their text, result codes, start-up counting,
// reference counting and creation of built-in classes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/com/Com.h"

namespace {

constexpr GUID kSample = {
    0xB5FF52FC, 0x7EBA, 0x46A9, {0xB4, 0x3D, 0xC8, 0xB2, 0x25, 0x26, 0x97, 0x02}};

TEST(GuidTextTest, PrintsAndParsesTheBracedForm) {
    EXPECT_EQ("{B5FF52FC-7EBA-46A9-B43D-C8B225269702}", com::GuidToString(kSample));
    GUID parsed{};
    ASSERT_TRUE(com::GuidFromString("{b5ff52fc-7eba-46a9-b43d-c8b225269702}", &parsed));
    EXPECT_EQ(kSample, parsed);

    wchar_t wide[39];
    EXPECT_EQ(0, StringFromGUID2(kSample, wide, 38));
    ASSERT_EQ(39, StringFromGUID2(kSample, wide, 39));
    CLSID back{};
    EXPECT_EQ(NOERROR, CLSIDFromString(wide, &back));
    EXPECT_EQ(kSample, back);

    for (const char* bad :
         {"", "B5FF52FC-7EBA-46A9-B43D-C8B225269702", "{B5FF52FC-7EBA-46A9-B43D-C8B22526970}",
          "{B5FF52FC-7EBA-46A9-B43D-C8B2252697022}", "{B5FF52FC:7EBA-46A9-B43D-C8B225269702}",
          "{B5FF52FG-7EBA-46A9-B43D-C8B225269702}"}) {
        GUID untouched = kSample;
        EXPECT_FALSE(com::GuidFromString(bad, &untouched)) << bad;
        EXPECT_EQ(kSample, untouched);
    }
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(L"{nonsense}", &back));
}

TEST(ResultCodeTest, UseTheWindowsNumbers) {
    struct Code {
        HRESULT value;
        uint32_t expected;
    } codes[] = {
        {S_OK, 0},
        {S_FALSE, 1},
        {E_POINTER, 0x80004003},
        {E_INVALIDARG, 0x80070057},
        {E_NOINTERFACE, 0x80004002},
        {E_OUTOFMEMORY, 0x8007000E},
        {E_FAIL, 0x80004005},
        {E_UNEXPECTED, 0x8000FFFF},
        {E_NOTIMPL, 0x80004001},
        {CLASS_E_CLASSNOTAVAILABLE, 0x80040111},
        {REGDB_E_CLASSNOTREG, 0x80040154},
        {E_PROP_SET_UNSUPPORTED, 0x80070492},
        {E_PROP_ID_UNSUPPORTED, 0x80070490},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0x80070002},
    };
    for (const Code& code : codes) EXPECT_EQ(code.expected, static_cast<uint32_t>(code.value));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_EQ("Unspecified error", SystemMessageText(E_FAIL));
    EXPECT_EQ("", SystemMessageText(0x80001234));
}

TEST(TextTest, WideAndUtf8RoundTrip) {
    const std::string text = "wifi device \xE6\x91\x84\xE5\x83\x8F \xF0\x9F\x93\xB7";
    EXPECT_EQ(text, com::WideToUtf8(com::Utf8ToWide(text)));
    EXPECT_EQ(L"a\uFFFD", com::Utf8ToWide("a\xE6\x91"));  // cut short

    BSTR bstr = SysAllocString(L"FriendlyName");
    EXPECT_EQ(12u, SysStringLen(bstr));
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    var.bstrVal = bstr;
    EXPECT_EQ(S_OK, VariantClear(&var));
    EXPECT_EQ(VT_EMPTY, var.vt);
}

TEST(RuntimeTest, CountsStartUpPerThread) {
    EXPECT_EQ(S_OK, CoInitialize(nullptr));
    EXPECT_EQ(S_FALSE, CoInitialize(nullptr));
    std::thread other([] {
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CoUninitialize();
    });
    other.join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(S_OK, CoInitialize(nullptr));
    CoUninitialize();
}

constexpr CLSID kCounterClass = {
    0x0A0B0C0D, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

class Counter : public IUnknown {
public:
    static inline int alive = 0;
    Counter() { ++alive; }
    virtual ~Counter() { --alive; }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG refs = --refs_;
        if (refs == 0) delete this;
        return refs;
    }

    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* counter = new Counter();
        counter->AddRef();
        const HRESULT hr = counter->QueryInterface(riid, ppv);
        counter->Release();
        return hr;
    }

private:
    ULONG refs_ = 0;
};

TEST(RuntimeTest, CreatesBuiltInClassesAndCountsReferences) {
    char pattern[] = "/tmp/com-test-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    registry::SetStoreFolders(folder, "");

    void* raw = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(kCounterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &raw));
    EXPECT_EQ(nullptr, raw);
    com::RegisterBuiltInClass(kCounterClass, &Counter::Create);
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(kCounterClass, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IClassFactory, &raw));
    EXPECT_EQ(0, Counter::alive);
    {
        CComPtr<IUnknown> first;
        ASSERT_EQ(S_OK, CoCreateInstance(kCounterClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&first)));
        CComPtr<IUnknown> copy = first;
        CComPtr<IUnknown> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(1, Counter::alive);
        first.Release();
        EXPECT_EQ(1, Counter::alive);
    }
    EXPECT_EQ(0, Counter::alive);
    EXPECT_EQ(E_POINTER, CoCreateInstance(kCounterClass, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IUnknown, nullptr));
    std::filesystem::remove_all(folder);
}

}  // namespace
