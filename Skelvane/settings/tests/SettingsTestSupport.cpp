#include "Skelvane/settings/tests/SettingsTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kEnvironment[] = {"HOME", "XDG_CONFIG_HOME", "LC_ALL", "LC_MESSAGES", "LANG"};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool IsHeader(const std::string& line) {
    return !line.empty() && line.front() == '[';
}

bool HeaderEndsWith(const std::string& header, const std::string& keySuffix) {
    const std::string tail = keySuffix + "]";
    return header.size() >= tail.size() &&
           header.compare(header.size() - tail.size(), tail.size(), tail) == 0;
}

// Rewrites the lines of one value in one section: `replacement` empty removes them.
std::string EditValue(const std::string& regText, const std::string& keySuffix,
                      const std::string& valueName, const std::string& replacement) {
    std::string out;
    bool inSection = false;
    bool found = false;
    for (const std::string& line : Lines(regText)) {
        if (IsHeader(line)) inSection = HeaderEndsWith(line, keySuffix);
        if (inSection && line.rfind("\"" + valueName + "\"=", 0) == 0) {
            found = true;
            if (!replacement.empty()) out += replacement + "\n";
            continue;
        }
        out += line + "\n";
    }
    EXPECT_TRUE(found) << keySuffix << " " << valueName;
    return out;
}

}  // namespace

void SettingsTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "skelvane-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::create_directories(folder_ + "/home");
    registry::SetStoreFolders(folder_ + "/config", "");
    for (const char* name : kEnvironment) {
        const char* value = std::getenv(name);
        savedEnvironment_.emplace_back(
            name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("HOME", (folder_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder_ + "/home/.config").c_str(), 1);
    SetLocale("en_US.UTF-8");
    boxes_ = std::make_shared<support::RecordingPresenter>();
    previousPresenter_ = sys::SetMessageBoxPresenter(boxes_);
    SetInstallFolder(folder_ + "/install/");
    RebuildSingletons();
}

void SettingsTest::TearDown() {
    RebuildSingletons();
    SetInstallFolder("");
    sys::SetMessageBoxPresenter(previousPresenter_);
    for (const auto& [name, value] : savedEnvironment_) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void SettingsTest::Import(const std::string& regText) {
    ASSERT_EQ(registry::ImportRegText(regText, false), ERROR_SUCCESS) << regText;
}

void SettingsTest::RebuildSingletons() {
    CSettingParamManage::Destroy();
    CLocalizableString::Destroy();
}

std::string SettingsTest::WriteFile(const std::string& relativePath,
                                    const std::string& content) const {
    const fs::path path = fs::path(folder_) / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

void SettingsTest::SetLocale(const std::string& locale) {
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    setenv("LC_ALL", locale.c_str(), 1);
}

std::string DistinctDefaultTree() {
    return R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\software\Skelvane\default\about]
"companyname"="Maker"
"producename"="Viewer"
"companywebsite"="https://maker.example"
"copyright"="(c) Maker"
"version"="9.8.7"
"venderidlist"="1A2B;3C4D"

[HKEY_CURRENT_USER\Software\SKELVANE\Default\System]
"resourcespath"="/srv/media"
"autocreatingfolder"=dword:00000001
"movieresolution"=dword:00000000
"moviesizemax"=dword:00000020
"language"=dword:00000001
"wifideviceip"=dword:0a000002
"wifideviceport"=dword:00001f91
"wifidevicename"="garden camera"
"haswifi"=dword:00000001

[HKEY_CURRENT_USER\software\Skelvane\default\timedshot]
"shotstype"=dword:00000001
"timestype"=dword:00000002
"shotsvalue"=dword:00000003
"timesvalue"=dword:00000004

[HKEY_CURRENT_USER\software\Skelvane\default\TimedShot\Shots\Minute]
"minvalue"=dword:00000002
"maxvalue"=dword:0000000a
"default"=dword:00000005

[HKEY_CURRENT_USER\software\Skelvane\default\timedShot\shots\hour]
"minvalue"=dword:00000003
"maxvalue"=dword:0000000b
"default"=dword:00000006

[HKEY_CURRENT_USER\software\Skelvane\default\timedShot\shots\day]
"minvalue"=dword:00000004
"maxvalue"=dword:0000000c
"default"=dword:00000007

[HKEY_CURRENT_USER\software\Skelvane\default\timedShot\times\minute]
"minvalue"=dword:00000005
"maxvalue"=dword:0000000d
"default"=dword:00000008

[HKEY_CURRENT_USER\software\Skelvane\default\timedShot\times\hour]
"minvalue"=dword:00000006
"maxvalue"=dword:0000000e
"default"=dword:00000009

[HKEY_CURRENT_USER\software\Skelvane\default\timedShot\times\day]
"minvalue"=dword:00000007
"maxvalue"=dword:0000000f
"default"=dword:0000000a

[HKEY_CURRENT_USER\software\Skelvane\default\languages]
"count"=dword:00000002

[HKEY_CURRENT_USER\software\Skelvane\default\languages\language0]
"indentifier"="English"
"showname"="English"
"langid"=dword:00000409

[HKEY_CURRENT_USER\software\Skelvane\default\languages\language1]
"indentifier"="zh-Hans"
"showname"="简体中文"
"langid"=dword:00010804
)";
}

Setting DistinctDefaultSetting() {
    Setting s;
    s.companyname = "Maker";
    s.producename = "Viewer";
    s.companywebsite = "https://maker.example";
    s.copyright = "(c) Maker";
    s.version = "9.8.7";
    s.venderidlist = "1A2B;3C4D";
    s.resourcespath = "/srv/media";
    s.autocreatingfolder = 1;
    s.movieresolution = 0;
    s.moviesizemax = 32;
    s.language = 1;
    s.wifideviceip = 0x0A000002;
    s.wifideviceport = 8081;
    s.wifidevicename = "garden camera";
    s.haswifi = 1;
    s.shotstype = 1;
    s.timestype = 2;
    s.shotsvalue = 3;
    s.timesvalue = 4;
    s.shotsRanges = {ValueRange{2, 10, 5}, ValueRange{3, 11, 6}, ValueRange{4, 12, 7}};
    s.timesRanges = {ValueRange{5, 13, 8}, ValueRange{6, 14, 9}, ValueRange{7, 15, 10}};
    // Only the low 16 bits of "langid" count.
    s.languages = {{"English", "English", 0x0409}, {"zh-Hans", "简体中文", 0x0804}};
    return s;
}

std::string WithoutValue(const std::string& regText, const std::string& keySuffix,
                         const std::string& valueName) {
    return EditValue(regText, keySuffix, valueName, "");
}

std::string WithValue(const std::string& regText, const std::string& keySuffix,
                      const std::string& valueName, const std::string& line) {
    return EditValue(regText, keySuffix, valueName, line);
}

std::string WithoutKey(const std::string& regText, const std::string& keySuffix) {
    std::string out;
    bool inSection = false;
    for (const std::string& line : Lines(regText)) {
        if (IsHeader(line)) inSection = HeaderEndsWith(line, keySuffix);
        if (!inSection) out += line + "\n";
    }
    return out;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}
