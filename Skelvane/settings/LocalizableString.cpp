#include "Skelvane/settings/LocalizableString.h"

#include <cstdio>
#include <memory>

#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/Sys.h"

namespace {

// Formats a trace line only when someone listens: lookups run every second.
template <class... Parts>
void Trace(const Parts&... parts) {
    if (!sys::DebugTraceEnabled()) return;
    std::string line;
    (line.append(parts), ...);
    sys::DebugTrace(line);
}

// The characters between the first double quote in [begin, end) and the next one, which
// must also lie before `end`; "" when either is missing.
std::string QuotedPart(const std::string& line, size_t begin, size_t end) {
    const size_t open = line.find('"', begin);
    if (open == std::string::npos || open >= end) return {};
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos || close >= end) return {};
    return line.substr(open + 1, close - open - 1);
}

enum class LineResult { kLine, kTooLong, kEnd };

// Reads one line ending in LF or CR LF (or at the end of the file). A line longer than
// kMaxLanguageLineBytes is consumed to its end but never stored beyond that bound.
LineResult ReadLine(std::FILE* file, std::string& line) {
    line.clear();
    bool tooLong = false;
    bool readAny = false;
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        readAny = true;
        if (c == '\n') break;
        // One byte more than the limit, so a CR before the LF still fits.
        if (line.size() <= kMaxLanguageLineBytes)
            line.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    if (!readAny) return LineResult::kEnd;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return tooLong || line.size() > kMaxLanguageLineBytes ? LineResult::kTooLong
                                                          : LineResult::kLine;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool ParseLanguageLine(const std::string& line, std::string& key, std::string& value) {
    if (line.find(';') == std::string::npos) return false;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    key = QuotedPart(line, 0, equals);
    value = QuotedPart(line, equals, line.size());
    if (key.empty() || value.empty()) return false;
    for (char& c : value)
        if (c == '@') c = 's';
    return true;
}

bool ReadLanguageTable(std::FILE* file, std::map<std::string, std::string>& table) {
    std::string line;
    std::string key;
    std::string value;
    for (LineResult result = ReadLine(file, line); result != LineResult::kEnd;
         result = ReadLine(file, line)) {
        if (result == LineResult::kTooLong) continue;
        Trace("read string value =", line);
        if (!ParseLanguageLine(line, key, value)) continue;
        // The first definition of a key wins.
        if (table.emplace(key, value).second) Trace("insert key =", key, " value=", value);
    }
    return std::ferror(file) == 0;
}

std::string GetLocalizedString(const std::string& key, const std::string& defaultText) {
    const int32_t position = CSettingParamManage::Instance()->GetCurrent().GetLanguageIndex();
    CLocalizableString* strings = CLocalizableString::Instance();
    strings->SelectLanguage(position);
    return strings->Find(key, defaultText);
}

void CLocalizableString::SelectLanguage(int32_t position) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (position == loadedLanguage_) return;
    }
    // Asked before locking: it may show a box of its own.
    const std::string installFolder = GetInstallFolder();
    std::string failure;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (position == loadedLanguage_) return;
        loadedLanguage_ = position;
        failure = LoadLocked(installFolder);
    }
    // Shown with the lock released: the box may run the UI's event loop, whose handlers
    // look texts up again.
    if (!failure.empty()) sys::WarningBox(failure);
}

void CLocalizableString::Load() {
    const std::string installFolder = GetInstallFolder();
    std::string failure;
    {
        std::lock_guard<std::mutex> guard(lock_);
        failure = LoadLocked(installFolder);
    }
    if (!failure.empty()) sys::WarningBox(failure);
}

std::string CLocalizableString::Find(const std::string& key, const std::string& defaultText) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto found = table_.find(key); found != table_.end()) {
        Trace("Get value = ", found->second, " by key = ", key);
        return found->second;
    }
    Trace("Get default value = ", defaultText, " by key = ", key);
    return defaultText;
}

std::string CLocalizableString::LoadLocked(const std::string& installFolder) {
    table_.clear();
    const LanguageEntry language =
        CSettingParamManage::Instance()->GetCurrent().GetLanguage(loadedLanguage_);
    const std::string path =
        installFolder + "Resource/" + language.indentifier + ".lproj/Localizable.strings";
    Trace("load language path = ", path);

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        Trace("Failure to open lanuage file");
        return "Fail to open " + path;
    }
    if (!ReadLanguageTable(file.get(), table_)) Trace("Happen to exception");
    return table_.empty() ? "Faiure to get language string" : "";
}
