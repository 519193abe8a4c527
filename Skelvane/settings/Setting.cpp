#include "Skelvane/settings/Setting.h"

#include <cstdio>

#include "common/CRegistry.h"

namespace {

// Group names of the six range keys, in read order.
constexpr const char* kShotsRangeGroups[kTimeUnitCount] = {
    "timedShot\\shots\\minute", "timedShot\\shots\\hour", "timedShot\\shots\\day"};
constexpr const char* kTimesRangeGroups[kTimeUnitCount] = {
    "timedShot\\times\\minute", "timedShot\\times\\hour", "timedShot\\times\\day"};

bool ReadNumber(CRegistry& key, const char* name, int32_t& field) {
    uint32_t value = 0;
    if (!key.ReadDword(name, value)) return false;
    field = static_cast<int32_t>(value);
    return true;
}

bool ReadNumber(CRegistry& key, const char* name, uint32_t& field) {
    return key.ReadDword(name, field);
}

bool WriteNumber(CRegistry& key, const char* name, int32_t value) {
    return key.WriteDword(name, static_cast<uint32_t>(value));
}

bool OpenGroup(CRegistry& key, HKEY root, const char* tree, const std::string& group) {
    return key.Open(root, SettingsGroupPath(tree, group), KEY_READ);
}

bool ReadAbout(HKEY root, Setting& s) {
    CRegistry key;
    return OpenGroup(key, root, kDefaultTree, "about") &&
           key.ReadText("companyname", s.companyname) &&
           key.ReadText("producename", s.producename) &&
           key.ReadText("companywebsite", s.companywebsite) &&
           key.ReadText("copyright", s.copyright) && key.ReadText("version", s.version) &&
           key.ReadText("venderidlist", s.venderidlist);
}

// The seven system values shared by both trees, in their read and write order.
bool ReadSystemValues(CRegistry& key, Setting& s) {
    return key.ReadText("resourcespath", s.resourcespath) &&
           ReadNumber(key, "autocreatingfolder", s.autocreatingfolder) &&
           ReadNumber(key, "movieresolution", s.movieresolution) &&
           ReadNumber(key, "moviesizemax", s.moviesizemax) &&
           ReadNumber(key, "language", s.language) &&
           ReadNumber(key, "wifideviceip", s.wifideviceip) &&
           ReadNumber(key, "wifideviceport", s.wifideviceport);
}

bool ReadDefaultSystem(HKEY root, Setting& s) {
    CRegistry key;
    if (!OpenGroup(key, root, kDefaultTree, "system") || !ReadSystemValues(key, s)) return false;
    // Optional: an installation without the wireless camera leaves both out.
    key.ReadText("wifidevicename", s.wifidevicename);
    if (!ReadNumber(key, "haswifi", s.haswifi)) s.haswifi = 0;
    return true;
}

bool ReadTimedShotValues(CRegistry& key, Setting& s) {
    return ReadNumber(key, "shotstype", s.shotstype) && ReadNumber(key, "timestype", s.timestype) &&
           ReadNumber(key, "shotsvalue", s.shotsvalue) &&
           ReadNumber(key, "timesvalue", s.timesvalue);
}

bool ReadRange(HKEY root, const char* group, ValueRange& range) {
    CRegistry key;
    return OpenGroup(key, root, kDefaultTree, group) &&
           ReadNumber(key, "minvalue", range.minvalue) &&
           ReadNumber(key, "maxvalue", range.maxvalue) &&
           ReadNumber(key, "default", range.defaultValue);
}

bool ReadDefaultTimedShot(HKEY root, Setting& s) {
    {
        CRegistry key;
        if (!OpenGroup(key, root, kDefaultTree, "timedshot") || !ReadTimedShotValues(key, s))
            return false;
    }
    for (size_t unit = 0; unit < kTimeUnitCount; ++unit)
        if (!ReadRange(root, kShotsRangeGroups[unit], s.shotsRanges[unit])) return false;
    for (size_t unit = 0; unit < kTimeUnitCount; ++unit)
        if (!ReadRange(root, kTimesRangeGroups[unit], s.timesRanges[unit])) return false;
    return true;
}

bool ReadLanguageEntry(HKEY root, int32_t index, LanguageEntry& entry) {
    char group[32];
    std::snprintf(group, sizeof(group), "languages\\language%d", index);
    CRegistry key;
    uint32_t langid = 0;
    if (!OpenGroup(key, root, kDefaultTree, group) ||
        !key.ReadText("indentifier", entry.indentifier) ||
        !key.ReadText("showname", entry.showname) || !key.ReadDword("langid", langid))
        return false;
    entry.langid = static_cast<uint16_t>(langid & 0xFFFF);
    return true;
}

bool ReadLanguages(HKEY root, Setting& s) {
    int32_t count = 0;
    {
        CRegistry key;
        if (!OpenGroup(key, root, kDefaultTree, "languages") || !ReadNumber(key, "count", count))
            return false;
    }
    // An incomplete entry ends the list; the entries before it stay.
    for (int32_t i = 0; i < count; ++i) {
        LanguageEntry entry;
        if (!ReadLanguageEntry(root, i, entry)) return false;
        s.languages.push_back(std::move(entry));
    }
    return true;
}

}  // namespace

std::string SettingsGroupPath(const std::string& tree, const std::string& group) {
    return std::string(kSettingsRootKey) + "\\" + tree + "\\" + group;
}

bool Setting::LoadDefaults(HKEY root) {
    // A group that ends early ends the whole load.
    return ReadAbout(root, *this) && ReadDefaultSystem(root, *this) &&
           ReadDefaultTimedShot(root, *this) && ReadLanguages(root, *this);
}

LanguageEntry Setting::GetLanguage(int32_t position) const {
    if (position < 0 || static_cast<size_t>(position) >= languages.size())
        return LanguageEntry{"English", "English", 0};
    return languages[static_cast<size_t>(position)];
}

bool UsingTreeExists() {
    CRegistry key;
    return OpenGroup(key, HKEY_CURRENT_USER, kUsingTree, "system");
}

bool ReadUsingTree(Setting& setting) {
    bool timedShotRead = false;
    {
        CRegistry key;
        timedShotRead = OpenGroup(key, HKEY_CURRENT_USER, kUsingTree, "timedshot") &&
                        ReadTimedShotValues(key, setting);
    }
    CRegistry key;
    const bool systemRead =
        OpenGroup(key, HKEY_CURRENT_USER, kUsingTree, "system") && ReadSystemValues(key, setting);
    return timedShotRead && systemRead;
}

bool WriteUsingTree(const Setting& setting) {
    {
        CRegistry key;
        // The outcome of the timed-shot group is not reported.
        (void)(key.Create(HKEY_CURRENT_USER, SettingsGroupPath(kUsingTree, "timedshot")) &&
               WriteNumber(key, "shotstype", setting.shotstype) &&
               WriteNumber(key, "timestype", setting.timestype) &&
               WriteNumber(key, "shotsvalue", setting.shotsvalue) &&
               WriteNumber(key, "timesvalue", setting.timesvalue));
    }
    CRegistry key;
    return key.Create(HKEY_CURRENT_USER, SettingsGroupPath(kUsingTree, "system")) &&
           key.WriteText("resourcespath", setting.resourcespath) &&
           WriteNumber(key, "autocreatingfolder", setting.autocreatingfolder) &&
           WriteNumber(key, "movieresolution", setting.movieresolution) &&
           WriteNumber(key, "moviesizemax", setting.moviesizemax) &&
           WriteNumber(key, "language", setting.language) &&
           key.WriteDword("wifideviceip", setting.wifideviceip) &&
           WriteNumber(key, "wifideviceport", setting.wifideviceport);
}
