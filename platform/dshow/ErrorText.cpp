// Texts of the framework's result codes.
#include <cwchar>

#include "platform/dshow/DShow.h"

namespace {

struct ErrorText {
    HRESULT code;
    const char* text;
};

constexpr ErrorText kTexts[] = {
    {VFW_E_INVALIDMEDIATYPE, "The specified media type is invalid."},
    {VFW_E_INVALIDSUBTYPE, "The specified media subtype is invalid."},
    {VFW_E_ALREADY_CONNECTED, "An attempt was made to perform the operation on a connected pin."},
    {VFW_E_NO_TYPES, "No media types are available for this pin."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together."},
    {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not connected."},
    {VFW_E_NO_ALLOCATOR, "No sample buffer allocator is available."},
    {VFW_E_BUFFER_OVERFLOW, "The buffer is not big enough."},
    {VFW_E_NOT_COMMITTED, "Cannot allocate a sample when the allocator is not active."},
    {VFW_E_SIZENOTSET, "Cannot allocate memory because no size has been set."},
    {VFW_E_NOT_FOUND, "An object or name was not found."},
    {VFW_E_CANNOT_CONNECT,
     "No combination of intermediate filters could be found to make the connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_NOT_STOPPED, "The operation could not be performed because the filter is not stopped."},
    {VFW_E_WRONG_STATE,
     "The operation could not be performed because the filter is in the wrong state."},
    {VFW_E_TYPE_NOT_ACCEPTED, "The media type of this sample is not accepted."},
    {VFW_E_TIMEOUT, "A time-out has expired."},
    {VFW_E_SAMPLE_TIME_NOT_SET, "No time stamp has been set for this sample."},
    {VFW_E_NOT_IN_GRAPH,
     "Cannot perform the requested function on an object that is not in the filter graph."},
};

}  // namespace

DWORD AMGetErrorText(HRESULT hr, WCHAR* pBuffer, DWORD MaxLen) {
    if (pBuffer == nullptr || MaxLen == 0) return 0;
    std::string text;
    for (const ErrorText& entry : kTexts) {
        if (entry.code == hr) text = entry.text;
    }
    if (text.empty()) text = SystemMessageText(hr);
    if (text.empty()) return 0;
    const std::wstring wide = com::Utf8ToWide(text);
    const size_t count = wide.size() < MaxLen - 1 ? wide.size() : MaxLen - 1;
    std::wmemcpy(pBuffer, wide.data(), count);
    pBuffer[count] = 0;
    return static_cast<DWORD>(count);
}
