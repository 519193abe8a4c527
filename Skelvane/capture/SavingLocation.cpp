#include "Skelvane/capture/SavingLocation.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "Skelvane/capture/TextFormat.h"
#include "Skelvane/capture/TimeLapseMovie.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/Sys.h"

namespace {

struct KindNames {
    const char* flatLetter;
    const char* datedPrefix;
    const char* extension;
};
constexpr KindNames kKinds[] = {
    {"M", "Movie", "avi"}, {"S", "SingleShot", "jpg"}, {"T", "TimeShot", "jpg"}};

// Numbers read from names stop growing here, so adding one can never overflow.
constexpr int64_t kNumberLimit = int64_t{1} << 60;
constexpr int64_t kNumbersPerSubFolder = 1000;

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value of the leading decimal digits of `text`; 0 when it starts with none.
int64_t LeadingNumber(std::string_view text) {
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min(value * 10 + (c - '0'), kNumberLimit);
    }
    return value;
}

std::string_view BeforeLastDot(std::string_view text) {
    const size_t dot = text.rfind('.');
    return dot == std::string_view::npos ? text : text.substr(0, dot);
}

bool PathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool DatedLayout() {
    return CSettingParamManage::Instance()->GetCurrent().autocreatingfolder != 0;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Entry names of `folder` without "." and ".."; with `filesOnly` sub-folders are left out.
// An unreadable folder gives none.
std::vector<std::string> ListEntries(const std::string& folder, bool filesOnly) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (filesOnly) {
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
                struct stat info;
                isFolder = stat((folder + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
            }
            if (isFolder) continue;
        }
        names.push_back(name);
    }
    return names;
}

// Files of `folder` that are flat names of `kind`.
std::vector<std::string> FlatNamesIn(const std::string& folder, int32_t kind) {
    std::vector<std::string> names = ListEntries(folder, true);
    std::erase_if(names, [kind](const std::string& name) { return !ParseFlatName(name, kind); });
    return names;
}

// The greatest by plain character comparison, or "" when there is none.
std::string GreatestName(const std::vector<std::string>& names) {
    const auto best = std::max_element(names.begin(), names.end());
    return best == names.end() ? std::string() : *best;
}

// The largest leading number of the entry names of `folder`, or nothing when it has none.
std::optional<int64_t> GreatestEntryNumber(const std::string& folder) {
    std::optional<int64_t> greatest;
    for (const std::string& name : ListEntries(folder, false))
        greatest = std::max(greatest.value_or(0), LeadingNumber(name));
    return greatest;
}

// The largest number of the entries of `folder` named prefix, number, ".", or -1.
int64_t GreatestPrefixedNumber(const std::string& folder, const std::string& prefix) {
    int64_t greatest = -1;
    for (const std::string& name : ListEntries(folder, false)) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string_view rest = std::string_view(name).substr(prefix.size());
        const size_t dot = rest.find('.');
        greatest = std::max(greatest, dot == std::string_view::npos ? 0 : LeadingNumber(rest));
    }
    return greatest;
}

std::string FlatFileName(int32_t kind, const std::string& date, int64_t run, int64_t number) {
    const KindNames& names = kKinds[kind];
    std::string name = std::string(names.flatLetter) + date + "_";
    if (kind == kMediaTimedShot) name += PadNumber(run, 3) + "_";
    return name + PadNumber(number, 4) + "." + names.extension;
}

}  // namespace

std::optional<FlatName> ParseFlatName(const std::string& name, int32_t kind) {
    const size_t first = name.find('_');
    if (first == std::string::npos) return std::nullopt;
    const size_t second = name.find('_', first + 1);
    FlatName parsed;
    parsed.date = name.substr(std::min<size_t>(1, first), first - std::min<size_t>(1, first));
    if (!AllDigits(parsed.date)) return std::nullopt;
    std::string_view numberText;
    if (kind == kMediaTimedShot) {
        if (second == std::string::npos) return std::nullopt;
        const std::string_view runText =
            std::string_view(name).substr(first + 1, second - first - 1);
        if (!AllDigits(runText)) return std::nullopt;
        parsed.run = LeadingNumber(runText);
        numberText = BeforeLastDot(std::string_view(name).substr(second + 1));
    } else {
        numberText = BeforeLastDot(std::string_view(name).substr(first + 1));
    }
    if (!AllDigits(numberText)) return std::nullopt;
    parsed.number = LeadingNumber(numberText);
    return parsed;
}

std::string PadNumber(int64_t n, int width) {
    char text[32];
    std::snprintf(text, sizeof(text), "%*lld", width, static_cast<long long>(n));
    std::string padded = text;
    std::replace(padded.begin(), padded.end(), ' ', '0');
    return padded;
}

std::string TodayText() {
    const sys::Date today = sys::Today();
    char text[32];
    std::snprintf(text, sizeof(text), "%04d%02d%02d", today.year, today.month, today.day);
    return text;
}

bool CSavingLoactionManage::NextMovieFile(const std::string& folder, std::string& path) {
    return NextFile(folder, kMediaMovie, path);
}

bool CSavingLoactionManage::NextSingleShotFile(const std::string& folder, std::string& path) {
    return NextFile(folder, kMediaSingleShot, path);
}

bool CSavingLoactionManage::NextFile(const std::string& folder, int32_t kind, std::string& path) {
    const bool dated = DatedLayout();
    if (folder.empty()) return false;
    const std::string today = TodayText();

    if (!dated) {
        std::string date = today;
        int64_t number = 1;
        if (const auto best = ParseFlatName(GreatestName(FlatNamesIn(folder, kind)), kind)) {
            if (best->date >= today) number = best->number + 1;
            if (best->date > today) date = best->date;
        }
        // The greatest name ranks numbers by characters only, so past 9999 a day, or when
        // someone put a file there, the name may be taken: move on to a free one.
        do {
            path = folder + "/" + FlatFileName(kind, date, 0, number++);
        } while (PathExists(path));
        return true;
    }

    if (!EnsureFolder(folder)) return false;
    const std::string dateFolder = folder + "/" + today;
    if (!EnsureFolder(dateFolder)) return false;
    const std::string prefix = kKinds[kind].datedPrefix;
    int64_t subFolder = GreatestEntryNumber(dateFolder).value_or(0);
    int64_t number = GreatestPrefixedNumber(dateFolder + "/" + PadNumber(subFolder, 3), prefix) + 1;
    if (number > 0 && number % kNumbersPerSubFolder == 0) ++subFolder;
    for (;;) {
        const std::string subFolderPath = dateFolder + "/" + PadNumber(subFolder, 3);
        if (!EnsureFolder(subFolderPath)) return false;
        path = subFolderPath + "/" + prefix + PadNumber(number, 4) + "." + kKinds[kind].extension;
        if (!PathExists(path)) return true;
        ++number;
        if (number % kNumbersPerSubFolder == 0) ++subFolder;
    }
}

bool CSavingLoactionManage::BeginTimedShotRun(const std::string& folder) {
    const bool dated = DatedLayout();
    if (folder.empty()) return false;
    const std::string today = TodayText();
    std::lock_guard<std::mutex> guard(timedShotLock_);

    if (!dated) {
        runDate = today;
        folderNumber = 1;
        fileNumber = 1;
        const std::vector<std::string> names = FlatNamesIn(folder, kMediaTimedShot);
        if (const auto best = ParseFlatName(GreatestName(names), kMediaTimedShot)) {
            if (best->date >= today) folderNumber = best->run + 1;
            if (best->date > today) runDate = best->date;
        }
        // Past run 999 the greatest name is no longer the latest run: skip every run
        // number of this date that already has files, so two runs never share one.
        std::set<int64_t> usedRuns;
        for (const std::string& name : names) {
            const auto parsed = ParseFlatName(name, kMediaTimedShot);
            if (parsed->date == runDate) usedRuns.insert(parsed->run);
        }
        while (usedRuns.count(folderNumber) != 0) ++folderNumber;
        return true;
    }

    const std::string dateFolder = folder + "/" + today;
    if (!EnsureFolder(dateFolder)) return false;
    const int64_t run = GreatestEntryNumber(dateFolder).value_or(-1) + 1;
    if (!EnsureFolder(dateFolder + "/" + PadNumber(run, 3))) return false;
    runDate = today;
    folderNumber = run;
    fileNumber = 0;
    return true;
}

std::vector<std::string> CSavingLoactionManage::TimedShotRunPictures(const std::string& folder) {
    std::lock_guard<std::mutex> guard(timedShotLock_);
    if (runDate.empty()) return {};
    if (DatedLayout())
        return TimeLapsePictures(folder + "/" + runDate + "/" + PadNumber(folderNumber, 3));
    std::vector<std::string> pictures = TimeLapsePictures(folder);
    std::erase_if(pictures, [this](const std::string& path) {
        const auto name = ParseFlatName(path.substr(path.rfind('/') + 1), kMediaTimedShot);
        return !name || name->date != runDate || name->run != folderNumber;
    });
    return pictures;
}

bool CSavingLoactionManage::NextTimedShotFile(const std::string& folder, std::string& path) {
    const bool dated = DatedLayout();
    if (folder.empty()) return false;
    std::lock_guard<std::mutex> guard(timedShotLock_);

    if (!dated) {
        do {
            path =
                folder + "/" + FlatFileName(kMediaTimedShot, runDate, folderNumber, fileNumber++);
        } while (PathExists(path));
        return true;
    }

    // A run that goes on past midnight continues in the new day's folder, made here.
    const std::string dateFolder = folder + "/" + TodayText();
    const std::string subFolder = dateFolder + "/" + PadNumber(folderNumber, 3);
    if (!EnsureFolder(dateFolder) || !EnsureFolder(subFolder)) return false;
    do {
        path = subFolder + "/" + kKinds[kMediaTimedShot].datedPrefix + PadNumber(folderNumber, 3) +
               "-" + PadNumber(fileNumber++, 4) + ".jpg";
    } while (PathExists(path));
    return true;
}

bool CSavingLoactionManage::EnsureFolder(const std::string& path) {
    if (PathExists(path)) return true;
    if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    sys::WarningBox(path + std::strerror(errno));
    return false;
}

bool CSavingLoactionManage::CreateMediaFolders() {
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    // The default saving folder is the documents folder, which a new account on this
    // platform may not have yet; a missing folder the user chose stays an error.
    if (!current.GetResourcesPath().empty() && current.GetResourcesPath() == sys::DocumentsFolder()) {
        std::error_code ignored;
        std::filesystem::create_directories(current.GetResourcesPath(), ignored);
    }
    return EnsureFolder(current.GetMediaRoot()) && EnsureFolder(current.GetSingleShotsFolder()) &&
           EnsureFolder(current.GetTimedShotsFolder()) && EnsureFolder(current.GetMoviesFolder());
}

bool CSavingLoactionManage::CheckSavingFolder() {
    CreateMediaFolders();
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    if (!current.GetResourcesPath().empty() && PathExists(current.GetResourcesPath())) return true;
    sys::WarningBox(
        FormatWithText(GetLocalizedString("ui_alert_not_exist_resource_location",
                                          "Don't exist location of  %s in setting,please setting"),
                       current.GetMoviesFolder()));
    return false;
}
