// The filter mapper: category instances in the classes root.
#include <cstring>

#include "platform/com/RegKey.h"
#include "platform/dshow/Internal.h"

namespace dshow {
namespace {

void AppendDword(std::vector<BYTE>& data, DWORD value) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    data.insert(data.end(), bytes, bytes + sizeof(value));
}

void AppendGuid(std::vector<BYTE>& data, const CLSID* guid) {
    const GUID value = guid != nullptr ? *guid : GUID_NULL;
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    data.insert(data.end(), bytes, bytes + sizeof(value));
}

// The filter data: version, merit, pin count, then per pin its flags (1 rendered,
// 2 output, 4 zero instances, 8 many), the filter and the count of media types it
// connects to, and each media type as major and minor type.
std::vector<BYTE> FilterData(const REGFILTER2& filter) {
    std::vector<BYTE> data;
    AppendDword(data, filter.dwVersion);
    AppendDword(data, filter.dwMerit);
    AppendDword(data, filter.cPins);
    for (ULONG i = 0; i < filter.cPins && filter.rgPins != nullptr; ++i) {
        const REGFILTERPINS& pin = filter.rgPins[i];
        const DWORD flags = (pin.bRendered ? 1u : 0u) | (pin.bOutput ? 2u : 0u) |
                            (pin.bZero ? 4u : 0u) | (pin.bMany ? 8u : 0u);
        AppendDword(data, flags);
        AppendGuid(data, pin.clsConnectsToFilter);
        const UINT types = pin.lpMediaType != nullptr ? pin.nMediaTypes : 0;
        AppendDword(data, types);
        for (UINT t = 0; t < types; ++t) {
            AppendGuid(data, pin.lpMediaType[t].clsMajorType);
            AppendGuid(data, pin.lpMediaType[t].clsMinorType);
        }
    }
    return data;
}

std::string InstanceKey(const CLSID* category, LPCOLESTR instance, REFCLSID filter) {
    const CLSID& chosen = category != nullptr ? *category : CLSID_LegacyAmFilterCategory;
    const std::string name = instance != nullptr && instance[0] != 0 ? com::WideToUtf8(instance)
                                                                     : com::GuidToString(filter);
    return "CLSID\\" + com::GuidToString(chosen) + "\\Instance\\" + name;
}

class CFilterMapper : public CUnknown, public IFilterMapper2 {
public:
    explicit CFilterMapper(HRESULT* phr) : CUnknown("filter mapper", nullptr, phr) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IFilterMapper2)
            return GetInterface(static_cast<IFilterMapper2*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CreateCategory(REFCLSID clsidCategory, DWORD dwCategoryMerit,
                           LPCWSTR Description) override {
        com::RegKey key;
        LONG result = key.Create(HKEY_CLASSES_ROOT, "CLSID\\" + com::GuidToString(clsidCategory));
        if (result == ERROR_SUCCESS && Description != nullptr) {
            result = key.WriteText("FriendlyName", com::WideToUtf8(Description));
        }
        if (result == ERROR_SUCCESS) {
            result = RegSetValueEx(key.Handle(), "Merit", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&dwCategoryMerit),
                                   sizeof(dwCategoryMerit));
        }
        return HRESULT_FROM_WIN32(result);
    }

    HRESULT UnregisterFilter(const CLSID* pclsidCategory, LPCOLESTR szInstance,
                             REFCLSID Filter) override {
        const std::string path = InstanceKey(pclsidCategory, szInstance, Filter);
        return HRESULT_FROM_WIN32(RegDeleteTree(HKEY_CLASSES_ROOT, path.c_str()));
    }

    HRESULT RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker,
                           const CLSID* pclsidCategory, LPCOLESTR szInstance,
                           const REGFILTER2* prf2) override {
        if (Name == nullptr || prf2 == nullptr) return E_POINTER;
        if (prf2->dwVersion != 1) return E_INVALIDARG;
        const std::string path = InstanceKey(pclsidCategory, szInstance, clsidFilter);
        com::RegKey key;
        LONG result = key.Create(HKEY_CLASSES_ROOT, path);
        if (result == ERROR_SUCCESS) result = key.WriteText("FriendlyName", com::WideToUtf8(Name));
        if (result == ERROR_SUCCESS)
            result = key.WriteText("CLSID", com::GuidToString(clsidFilter));
        if (result == ERROR_SUCCESS) result = key.WriteBinary("FilterData", FilterData(*prf2));
        if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
        if (ppMoniker != nullptr) return CreateRegisteredMoniker(path, ppMoniker);
        return S_OK;
    }
};

}  // namespace

HRESULT CreateFilterMapper(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateObject<CFilterMapper>(outer, riid, ppv);
}

}  // namespace dshow
