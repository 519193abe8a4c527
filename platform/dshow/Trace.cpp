// Texts of the framework's objects for the debug trace.
#include <cstdio>
#include <iterator>

#include "platform/dshow/Internal.h"

namespace dshow {
namespace {

struct GuidName {
    const GUID* guid;
    const char* name;
};

const GuidName kGuidNames[] = {
    {&MEDIATYPE_Video, "Video"},        {&MEDIATYPE_Audio, "Audio"},
    {&MEDIATYPE_Stream, "Stream"},      {&MEDIASUBTYPE_RGB8, "RGB8"},
    {&MEDIASUBTYPE_RGB565, "RGB565"},   {&MEDIASUBTYPE_RGB555, "RGB555"},
    {&MEDIASUBTYPE_RGB24, "RGB24"},     {&MEDIASUBTYPE_RGB32, "RGB32"},
    {&MEDIASUBTYPE_MJPG, "MJPG"},       {&MEDIASUBTYPE_YUY2, "YUY2"},
    {&MEDIASUBTYPE_UYVY, "UYVY"},       {&MEDIASUBTYPE_NV12, "NV12"},
    {&MEDIASUBTYPE_I420, "I420"},       {&FORMAT_None, "no format"},
    {&FORMAT_VideoInfo, "VideoInfo"},   {&FORMAT_VideoInfo2, "VideoInfo2"},
    {&PIN_CATEGORY_CAPTURE, "Capture"}, {&PIN_CATEGORY_PREVIEW, "Preview"},
    {&PIN_CATEGORY_STILL, "Still"},
};

}  // namespace

std::string GuidText(const GUID* guid) {
    if (guid == nullptr || *guid == GUID_NULL) return "any";
    for (const GuidName& entry : kGuidNames) {
        if (*entry.guid == *guid) return entry.name;
    }
    return com::GuidToString(*guid);
}

std::string MediaTypeText(const AM_MEDIA_TYPE* type) {
    if (type == nullptr) return "any type";
    std::string text = GuidText(&type->majortype) + " " + GuidText(&type->subtype) + " " +
                       GuidText(&type->formattype);
    if (const VIDEOINFOHEADER* info = VideoInfoBlockOf(*type)) {
        char size[64];
        std::snprintf(size, sizeof(size), " %ldx%ld %u-bit",
                      static_cast<long>(info->bmiHeader.biWidth),
                      static_cast<long>(info->bmiHeader.biHeight),
                      static_cast<unsigned>(info->bmiHeader.biBitCount));
        text += size;
    }
    return text;
}

std::string PinText(IPin* pin) {
    PIN_INFO pinInfo{};
    if (pin == nullptr || FAILED(pin->QueryPinInfo(&pinInfo))) return "(unknown pin)";
    std::string filterName;
    if (pinInfo.pFilter != nullptr) {
        FILTER_INFO filterInfo{};
        if (SUCCEEDED(pinInfo.pFilter->QueryFilterInfo(&filterInfo))) {
            filterName = com::WideToUtf8(filterInfo.achName);
            if (filterInfo.pGraph != nullptr) filterInfo.pGraph->Release();
        }
        pinInfo.pFilter->Release();
    }
    return "'" + filterName + "'/'" + com::WideToUtf8(pinInfo.achName) + "'";
}

}  // namespace dshow
