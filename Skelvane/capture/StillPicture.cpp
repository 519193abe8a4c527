#include "Skelvane/capture/StillPicture.h"

#include <cstring>
#include <mutex>

#include "BuildInfo.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/TextFormat.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/imaging/Exif.h"
#include "platform/sys/Sys.h"

namespace {

constexpr int kJpegQuality = 100;
constexpr const char* kJpegMimeType = "image/jpeg";

// Name and documented description of each status, indexed by its number; Win32Error's
// text comes from the system.
constexpr const char* kStatusTexts[] = {
    "Ok: Indicates that the method call was successful.",
    "GenericError: Indicates that there was an error on the method call, which is identified "
    "as something other than those defined by the other elements of this enumeration.",
    "InvalidParameter: Indicates that one of the arguments passed to the method was not valid.",
    "OutOfMemory: Indicates that the operating system is out of memory and could not allocate "
    "memory to process the method call.",
    "ObjectBusy: Indicates that one of the arguments specified in the API call is already in "
    "use in another thread.",
    "InsufficientBuffer: Indicates that a buffer specified as an argument in the API call is "
    "not large enough to hold the data to be received.",
    "NotImplemented: Indicates that the method is not implemented.",
    nullptr,
    "WrongState: Indicates that the object is in an invalid state to satisfy the API call.",
    "Aborted: Indicates that the method was aborted.",
    "FileNotFound: Indicates that the specified image file or metafile cannot be found.",
    "ValueOverflow: Indicates that the method performed an arithmetic operation that produced "
    "a numeric overflow.",
    "AccessDenied: Indicates that a write operation is not allowed on the specified file.",
    "UnknownImageFormat: Indicates that the specified image file format is not known.",
    "FontFamilyNotFound: Indicates that the specified font family cannot be found.",
    "FontStyleNotFound: Indicates that the specified style is not available for the specified "
    "font family.",
    "NotTrueTypeFont: Indicates that the font retrieved from an HDC or LOGFONT is not a "
    "TrueType font and cannot be used with GDI+.",
    "UnsupportedGdiplusVersion: Indicates that the version of GDI+ that is installed on the "
    "system is incompatible with the version with which the application was compiled.",
    "GdiplusNotInitialized: Indicates that the GDI+API is not in an initialized state.",
    "PropertyNotFound: Indicates that the specified property does not exist in the image.",
    "PropertyNotSupported: Indicates that the specified property is not supported by the "
    "format of the image and, therefore, cannot be set.",
};
constexpr const char* kInvalidStatusText =
    "Invalid status: Indicates an unknown status was returned.";

std::mutex cameraNameLock;
std::string cameraName;

imaging::PhotoTags CurrentPhotoTags() {
    imaging::PhotoTags tags;
    tags.dateTime = imaging::ExifDateTimeNow();
    tags.software = "Skelvane " SKELVANE_VERSION;
    std::lock_guard<std::mutex> guard(cameraNameLock);
    tags.camera = cameraName;
    return tags;
}

}  // namespace

std::optional<imaging::ImageCodecInfo> GetJpegEncoder() {
    for (const imaging::ImageCodecInfo& encoder : imaging::GetImageEncoders())
        if (encoder.mimeType == kJpegMimeType) return encoder;
    return std::nullopt;
}

std::optional<imaging::BgrBitmap> ScaleBitmap(const imaging::BgrImageView& picture, int width,
                                              int height) {
    return imaging::ScaleBicubic(picture, width, height);
}

std::string GdiplusStatusText(int status, int systemError) {
    if (status == Gdiplus::Win32Error) return std::strerror(systemError);
    if (status < 0 || status >= static_cast<int>(std::size(kStatusTexts)))
        return kInvalidStatusText;
    return kStatusTexts[status];
}

void SetPhotoCameraName(const std::string& name) {
    std::lock_guard<std::mutex> guard(cameraNameLock);
    cameraName = name;
}

bool SaveFrameAsJpeg(const FrameBuffer& frame, const std::string& path) {
    if (frame.data == nullptr || frame.length <= 0) return false;
    // A frame shorter than its rows would be read past its end.
    if (!FrameIsComplete(frame)) return false;
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    if (!GetJpegEncoder()) return false;

    imaging::BgrImageView picture{frame.data, frame.width, frame.height,
                                  static_cast<int>(FrameRowStride(frame.width)), true};
    std::optional<imaging::BgrBitmap> scaled;
    if (current.captureWidth != frame.width || current.captureHeight != frame.height) {
        scaled = ScaleBitmap(picture, current.captureWidth, current.captureHeight);
        if (!scaled) return false;
        picture = scaled->View();
    }
    const imaging::PhotoTags tags = CurrentPhotoTags();
    const imaging::WriteResult result = imaging::WriteJpegFile(picture, path, kJpegQuality, &tags);
    if (result.status == Gdiplus::Ok) return true;
    sys::WarningBox(
        FormatWithText(GetLocalizedString("ui_alert_savefile", "Save file %s failure"), path) +
        GdiplusStatusText(result.status, result.systemError));
    return false;
}

bool TakeSingleShot(const FrameBuffer& frame, ICaptureOwner& owner) {
    CSavingLoactionManage* locations = CSavingLoactionManage::Instance();
    const std::string folder = CSettingParamManage::Instance()->GetCurrent().GetSingleShotsFolder();
    std::string path;
    {
        // The name is only taken once the file is there, so naming and writing go together.
        std::lock_guard<std::mutex> guard(locations->SingleShotLock());
        if (!locations->NextSingleShotFile(folder, path)) return false;
        if (!SaveFrameAsJpeg(frame, path)) return false;
    }
    owner.RevealFile(path);
    return true;
}
