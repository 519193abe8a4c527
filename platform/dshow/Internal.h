// Pieces shared by the framework's own sources: snapshot enumerators, the creation
// functions of the built-in classes and the registration helpers.
#pragma once

#include <string>
#include <vector>

#include "platform/dshow/BaseClasses.h"
#include "platform/sys/Sys.h"

namespace dshow {

// Enumerator over a snapshot of interface pointers (IEnumPins, IEnumFilters, IEnumMoniker).
template <class Interface, class Item>
class CInterfaceEnum : public CUnknown, public Interface {
public:
    CInterfaceEnum(const IID& iid, std::vector<CComPtr<Item>> items, size_t position = 0)
        : CUnknown("enumerator", nullptr),
          iid_(iid),
          items_(std::move(items)),
          position_(position) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == iid_) return GetInterface(static_cast<Interface*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT Next(ULONG count, Item** items, ULONG* fetched) override {
        if (items == nullptr) return E_POINTER;
        if (fetched == nullptr && count != 1) return E_INVALIDARG;
        ULONG done = 0;
        while (done < count && position_ < items_.size()) {
            items_[position_++].CopyTo(&items[done++]);
        }
        if (fetched != nullptr) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const size_t left = items_.size() - position_;
        if (count > left) {
            position_ = items_.size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(Interface** clone) override {
        if (clone == nullptr) return E_POINTER;
        auto* copy = new CInterfaceEnum(iid_, items_, position_);
        return copy->NonDelegatingQueryInterface(iid_, reinterpret_cast<void**>(clone));
    }

    // A new enumerator with one reference, as `Interface`.
    static HRESULT Create(const IID& iid, std::vector<CComPtr<Item>> items, Interface** result) {
        if (result == nullptr) return E_POINTER;
        auto* created = new CInterfaceEnum(iid, std::move(items));
        return created->NonDelegatingQueryInterface(iid, reinterpret_cast<void**>(result));
    }

private:
    const IID& iid_;
    std::vector<CComPtr<Item>> items_;
    size_t position_;
};

// Enumerator over a snapshot of media types.
class CMediaTypeEnum : public CUnknown, public IEnumMediaTypes {
public:
    explicit CMediaTypeEnum(std::vector<CMediaType> types, size_t position = 0);
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** clone) override;

private:
    std::vector<CMediaType> types_;
    size_t position_;
};

// Copies `text` into a fixed-size wide buffer, cutting it to fit with its terminator.
void CopyName(const std::wstring& text, WCHAR* target, size_t capacity);

// Output pin categories through IKsPropertySet; GUID_NULL when the pin reports none.
GUID PinCategory(IPin* pin);
// The pins of a filter, each with a reference held.
std::vector<CComPtr<IPin>> PinsOf(IBaseFilter* filter);
// Whether the pin can carry the major type (connected type, else one of its offered types).
bool PinHasMajorType(IPin* pin, const GUID& majorType);

// Texts for the debug trace; callers build them only when DebugTraceEnabled().
// A known identifier's short name ("Video", "RGB24", "Capture"), "any" for none, else {...}.
std::string GuidText(const GUID* guid);
// "Video RGB24 VideoInfo 640x480 24-bit".
std::string MediaTypeText(const AM_MEDIA_TYPE* type);
// "'filter name'/'pin name'".
std::string PinText(IPin* pin);

// Built-in classes.
// Creates a CUnknown-derived class and hands out the asked interface.
template <class T>
HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    T* object = new T(&hr);
    object->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

HRESULT CreateFilterGraph(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateCaptureGraphBuilder(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateSampleGrabber(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateNullRenderer(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateVideoRenderer(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateSystemDeviceEnum(IUnknown* outer, REFIID riid, void** ppv);
HRESULT CreateFilterMapper(IUnknown* outer, REFIID riid, void** ppv);

// A moniker for the registered category instance at `keyPath` (below the classes root).
HRESULT CreateRegisteredMoniker(const std::string& keyPath, IMoniker** moniker);

// Registers (or removes) a filter's setup data in the legacy filter category.
HRESULT RegisterFilterSetup(const AMOVIESETUP_FILTER* setup, BOOL bRegister);

}  // namespace dshow
