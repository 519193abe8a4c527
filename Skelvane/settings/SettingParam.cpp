#include "Skelvane/settings/SettingParam.h"

#include <cctype>

#include "platform/sys/Sys.h"

namespace {

constexpr const char* kMediaFolderName = "Skelvane";

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const ValueRange* RangeOfUnit(const std::array<ValueRange, kTimeUnitCount>& ranges, int32_t unit) {
    if (unit < 0 || static_cast<size_t>(unit) >= kTimeUnitCount) return nullptr;
    return &ranges[static_cast<size_t>(unit)];
}

bool InRange(const ValueRange* range, int32_t value) {
    return range != nullptr && range->minvalue <= value && value <= range->maxvalue;
}

}  // namespace

bool CSettingParam::LoadDefaults(HKEY root) {
    const bool complete = Setting::LoadDefaults(root);
    if (resourcespath == "default") resourcespath = sys::DocumentsFolder();
    DeriveMediaRoot();
    return complete;
}

void CSettingParam::SetResourcesPath(const std::string& path) {
    std::string normalised = path;
    for (char& c : normalised)
        if (c == '\\') c = '/';
    while (normalised.size() > 1 && normalised.back() == '/') normalised.pop_back();
    resourcespath = normalised;
    DeriveMediaRoot();
}

void CSettingParam::DeriveMediaRoot() {
    if (resourcespath.empty() || EndsWith(resourcespath, kMediaFolderName))
        mediaRoot = resourcespath;
    else
        mediaRoot = resourcespath + "/" + kMediaFolderName;
}

int64_t CSettingParam::GetDurationMinutes() const {
    switch (timestype) {
        case kUnitMinute:
            return timesvalue;
        case kUnitHour:
            return int64_t{timesvalue} * 60;
        case kUnitDay:
            return int64_t{timesvalue} * 1440;
        default:
            return 1;
    }
}

int64_t CSettingParam::GetShotsPerDay() const {
    if (shotsvalue == 0) return 1;
    switch (shotstype) {
        case kUnitMinute:
            return int64_t{shotsvalue} * 1440;
        case kUnitHour:
            return int64_t{shotsvalue} * 24;
        case kUnitDay:
            return shotsvalue;
        default:
            return 1;
    }
}

bool CSettingParam::IsTimedShotValid() const {
    return InRange(RangeOfUnit(timesRanges, timestype), timesvalue) &&
           InRange(RangeOfUnit(shotsRanges, shotstype), shotsvalue);
}

int32_t CSettingParam::GetLanguageIndex() const {
    if (language != kLanguageNotChosen) return language;
    const uint16_t userLangId = sys::UserDefaultLangId();
    for (size_t i = 0; i < languages.size(); ++i)
        if (languages[i].langid == userLangId) return static_cast<int32_t>(i);
    return 0;
}

MovieFrameSize CSettingParam::GetMovieFrameSize() const {
    switch (movieresolution) {
        case 1:
            return {640, 480};
        case 0:
            return {320, 240};
        default:
            return {0, 0};
    }
}

void CSettingParam::GetVendorIds(std::vector<std::string>& ids) const {
    std::string rest = venderidlist;
    // A ";" at the start of what remains ends the splitting: the rest is taken whole.
    for (size_t p = rest.find(';'); p != std::string::npos && p >= 1; p = rest.find(';')) {
        ids.push_back(LowerCase(rest.substr(0, p)));
        rest.erase(0, p + 1);
    }
    ids.push_back(LowerCase(rest));
}

CSettingParamManage::CSettingParamManage() {
    defaults_.LoadDefaults(HKEY_CURRENT_USER);
    current_ = defaults_;
    if (UsingTreeExists()) {
        ReadUsingTree(current_);
        // The using tree holds a real folder: no "default" substitution here.
        current_.DeriveMediaRoot();
    }
    previous_ = current_;
}

CSettingParam CSettingParamManage::GetCurrent() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_;
}

CSettingParam CSettingParamManage::GetPrevious() const {
    std::lock_guard<std::mutex> guard(lock_);
    return previous_;
}

void CSettingParamManage::Apply(const CSettingParam& param) {
    // The store is written outside the lock; the records change whatever it says.
    WriteUsingTree(param);
    std::lock_guard<std::mutex> guard(lock_);
    previous_ = current_;
    current_ = param;
}

void CSettingParamManage::SetCurrentCapture(int32_t width, int32_t height, bool interpolation) {
    std::lock_guard<std::mutex> guard(lock_);
    current_.captureWidth = width;
    current_.captureHeight = height;
    current_.interpolation = interpolation;
}
