// The system device enumerator: the providers' video-input devices, then the instances
// registered in a category of the classes root, each as a moniker with a property bag.
#include <algorithm>
#include <map>
#include <mutex>

#include "platform/com/RegKey.h"
#include "platform/dshow/Internal.h"

namespace dshow {
namespace {

struct ProviderList {
    std::mutex lock;
    std::vector<std::shared_ptr<IVideoInputProvider>> providers;
};

ProviderList& Providers() {
    static ProviderList list;
    return list;
}

HRESULT ReadIntoVariant(const std::string* text, VARIANT* var) {
    if (text == nullptr) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (var->vt != VT_EMPTY && var->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    BSTR value = SysAllocString(com::Utf8ToWide(*text).c_str());
    if (value == nullptr) return E_OUTOFMEMORY;
    var->vt = VT_BSTR;
    var->bstrVal = value;
    return S_OK;
}

// What both kinds of property bag share: the interface on an object of their own.
class CPropertyBagBase : public CUnknown, public IPropertyBag {
public:
    explicit CPropertyBagBase(const char* objectName) : CUnknown(objectName, nullptr) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IPropertyBag) return GetInterface(static_cast<IPropertyBag*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
};

// Property bag of a provider's device: "FriendlyName" and, when it has one, "DevicePath".
class CDevicePropertyBag : public CPropertyBagBase {
public:
    explicit CDevicePropertyBag(const VideoInputDevice& device)
        : CPropertyBagBase("device property bag") {
        values_["FriendlyName"] = device.friendlyName;
        if (!device.devicePath.empty()) values_["DevicePath"] = device.devicePath;
    }

    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* /*pErrorLog*/) override {
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = values_.find(com::WideToUtf8(pszPropName));
        return ReadIntoVariant(found == values_.end() ? nullptr : &found->second, pVar);
    }

    HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) override {
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        if (pVar->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
        std::lock_guard<std::mutex> guard(lock_);
        values_[com::WideToUtf8(pszPropName)] =
            pVar->bstrVal != nullptr ? com::WideToUtf8(pVar->bstrVal) : std::string();
        return S_OK;
    }

private:
    std::mutex lock_;
    std::map<std::string, std::string> values_;
};

// Property bag of a registered instance: the values of its key, read when asked.
class CRegistryPropertyBag : public CPropertyBagBase {
public:
    explicit CRegistryPropertyBag(std::string keyPath)
        : CPropertyBagBase("registry property bag"), keyPath_(std::move(keyPath)) {}

    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* /*pErrorLog*/) override {
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        com::RegKey key;
        LONG result = key.Open(HKEY_CLASSES_ROOT, keyPath_);
        if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
        const std::string name = com::WideToUtf8(pszPropName);
        DWORD type = 0;
        DWORD size = 0;
        result = RegQueryValueEx(key.Handle(), name.c_str(), nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
        if (type == REG_DWORD) {
            if (pVar->vt != VT_EMPTY && pVar->vt != VT_I4) return DISP_E_TYPEMISMATCH;
            DWORD value = 0;
            DWORD valueSize = sizeof(value);
            result = RegQueryValueEx(key.Handle(), name.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(&value), &valueSize);
            if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
            pVar->vt = VT_I4;
            pVar->lVal = static_cast<LONG>(value);
            return S_OK;
        }
        if (type != REG_SZ) return DISP_E_TYPEMISMATCH;
        std::string text;
        result = key.ReadText(name, text);
        if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
        return ReadIntoVariant(&text, pVar);
    }

    HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) override {
        if (pszPropName == nullptr || pVar == nullptr) return E_POINTER;
        com::RegKey key;
        LONG result = key.Open(HKEY_CLASSES_ROOT, keyPath_, KEY_ALL_ACCESS);
        if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
        const std::string name = com::WideToUtf8(pszPropName);
        if (pVar->vt == VT_BSTR) {
            result = key.WriteText(
                name, pVar->bstrVal != nullptr ? com::WideToUtf8(pVar->bstrVal) : std::string());
        } else if (pVar->vt == VT_I4) {
            const auto value = static_cast<DWORD>(pVar->lVal);
            result = RegSetValueEx(key.Handle(), name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&value), sizeof(value));
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        return HRESULT_FROM_WIN32(result);
    }

private:
    std::string keyPath_;
};

// A moniker's storage: the device's property bag, the only interface offered.
template <class Bag, class Arg>
HRESULT BindBag(const Arg& arg, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IPropertyBag) return E_NOINTERFACE;
    auto* bag = new Bag(arg);
    bag->NonDelegatingAddRef();
    const HRESULT hr = bag->NonDelegatingQueryInterface(riid, ppv);
    bag->NonDelegatingRelease();
    return hr;
}

// What both kinds of device moniker share: the interface and the display name's copy.
class CDeviceMoniker : public CUnknown, public IMoniker {
public:
    explicit CDeviceMoniker(const char* objectName) : CUnknown(objectName, nullptr) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IMoniker) return GetInterface(static_cast<IMoniker*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

protected:
    static HRESULT DisplayName(const std::wstring& name, LPOLESTR* result) {
        if (result == nullptr) return E_POINTER;
        auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
        if (copy == nullptr) return E_OUTOFMEMORY;
        std::wmemcpy(copy, name.c_str(), name.size() + 1);
        *result = copy;
        return S_OK;
    }
};

class CProviderMoniker : public CDeviceMoniker {
public:
    explicit CProviderMoniker(VideoInputDevice device)
        : CDeviceMoniker("device moniker"), device_(std::move(device)) {}

    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riidResult, void** ppvResult) override {
        if (ppvResult == nullptr) return E_POINTER;
        *ppvResult = nullptr;
        if (!device_.createFilter) return E_UNEXPECTED;
        CComPtr<IBaseFilter> filter;
        const HRESULT hr = device_.createFilter(&filter);
        if (FAILED(hr)) return hr;
        if (!filter) return E_UNEXPECTED;
        return filter->QueryInterface(riidResult, ppvResult);
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppvObj) override {
        return BindBag<CDevicePropertyBag>(device_, riid, ppvObj);
    }

    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* ppszDisplayName) override {
        return DisplayName(L"@device:pnp:" + com::Utf8ToWide(device_.devicePath), ppszDisplayName);
    }

private:
    VideoInputDevice device_;
};

class CRegisteredMoniker : public CDeviceMoniker {
public:
    explicit CRegisteredMoniker(std::string keyPath)
        : CDeviceMoniker("registered moniker"), keyPath_(std::move(keyPath)) {}

    // Creates the class named by the instance's "CLSID" value.
    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID riidResult, void** ppvResult) override {
        if (ppvResult == nullptr) return E_POINTER;
        *ppvResult = nullptr;
        com::RegKey key;
        const LONG result = key.Open(HKEY_CLASSES_ROOT, keyPath_);
        if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
        std::string text;
        CLSID clsid;
        if (key.ReadText("CLSID", text) != ERROR_SUCCESS || !com::GuidFromString(text, &clsid)) {
            return REGDB_E_CLASSNOTREG;
        }
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riidResult, ppvResult);
    }

    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppvObj) override {
        return BindBag<CRegistryPropertyBag>(keyPath_, riid, ppvObj);
    }

    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* ppszDisplayName) override {
        return DisplayName(L"@device:sw:" + com::Utf8ToWide(keyPath_), ppszDisplayName);
    }

private:
    std::string keyPath_;
};

template <class Moniker, class Arg>
CComPtr<IMoniker> MakeMoniker(Arg arg) {
    auto* moniker = new Moniker(std::move(arg));
    CComPtr<IMoniker> result;
    moniker->NonDelegatingQueryInterface(IID_IMoniker, reinterpret_cast<void**>(&result));
    return result;
}

class CSystemDeviceEnum : public CUnknown, public ICreateDevEnum {
public:
    explicit CSystemDeviceEnum(HRESULT* phr) : CUnknown("system device enumerator", nullptr, phr) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_ICreateDevEnum)
            return GetInterface(static_cast<ICreateDevEnum*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                  DWORD /*dwFlags*/) override {
        if (ppEnumMoniker == nullptr) return E_POINTER;
        *ppEnumMoniker = nullptr;
        std::vector<CComPtr<IMoniker>> monikers;
        if (clsidDeviceClass == CLSID_VideoInputDeviceCategory) {
            std::vector<std::shared_ptr<IVideoInputProvider>> providers;
            {
                std::lock_guard<std::mutex> guard(Providers().lock);
                providers = Providers().providers;
            }
            for (const auto& provider : providers) {
                for (VideoInputDevice& device : provider->EnumerateDevices()) {
                    monikers.push_back(MakeMoniker<CProviderMoniker>(std::move(device)));
                }
            }
        }
        const std::string instances =
            "CLSID\\" + com::GuidToString(clsidDeviceClass) + "\\Instance";
        com::RegKey key;
        if (key.Open(HKEY_CLASSES_ROOT, instances, KEY_READ) == ERROR_SUCCESS) {
            for (const std::string& name : key.SubKeyNames()) {
                monikers.push_back(MakeMoniker<CRegisteredMoniker>(instances + "\\" + name));
            }
        }
        if (monikers.empty()) return S_FALSE;
        return CInterfaceEnum<IEnumMoniker, IMoniker>::Create(IID_IEnumMoniker, std::move(monikers),
                                                              ppEnumMoniker);
    }
};

}  // namespace

HRESULT CreateSystemDeviceEnum(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateObject<CSystemDeviceEnum>(outer, riid, ppv);
}

HRESULT CreateRegisteredMoniker(const std::string& keyPath, IMoniker** moniker) {
    if (moniker == nullptr) return E_POINTER;
    *moniker = MakeMoniker<CRegisteredMoniker>(keyPath).Detach();
    return S_OK;
}

}  // namespace dshow

void RegisterVideoInputProvider(std::shared_ptr<IVideoInputProvider> provider) {
    if (!provider) return;
    dshow::ProviderList& list = dshow::Providers();
    std::lock_guard<std::mutex> guard(list.lock);
    list.providers.push_back(std::move(provider));
}

void UnregisterVideoInputProvider(const std::shared_ptr<IVideoInputProvider>& provider) {
    dshow::ProviderList& list = dshow::Providers();
    std::lock_guard<std::mutex> guard(list.lock);
    list.providers.erase(std::remove(list.providers.begin(), list.providers.end(), provider),
                         list.providers.end());
}
