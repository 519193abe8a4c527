// The settings record and the two trees of the store it is read from and written to:
// "default" (installed product data, read only) and "using" (what the user last applied),
// both below "software\Skelvane" of the current user.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

// Root key of both trees and the tree names.
inline constexpr const char* kSettingsRootKey = "software\\Skelvane";
inline constexpr const char* kDefaultTree = "default";
inline constexpr const char* kUsingTree = "using";

// "language" when the user has not chosen one: follow the system language.
inline constexpr int32_t kLanguageNotChosen = 0x1FFFFFFF;

// Units of the timed-shot rate and duration; they index the ranges.
enum TimeUnit : int32_t { kUnitMinute = 0, kUnitHour = 1, kUnitDay = 2 };
inline constexpr size_t kTimeUnitCount = 3;

// Full path of a group key: root, tree and group joined by backslashes.
std::string SettingsGroupPath(const std::string& tree, const std::string& group);

struct LanguageEntry {
    std::string indentifier;  // folder name of the language file
    std::string showname;     // name shown in the language list
    uint16_t langid = 0;      // system language identifier

    bool operator==(const LanguageEntry&) const = default;
};

// Accepted counts of one timed-shot unit and the count proposed when it is picked.
struct ValueRange {
    int32_t minvalue = 1;
    int32_t maxvalue = 300;
    int32_t defaultValue = 60;  // stored as "default"

    bool operator==(const ValueRange&) const = default;
};

class Setting {
public:
    Setting() = default;
    virtual ~Setting() = default;
    Setting(const Setting&) = default;
    Setting& operator=(const Setting&) = default;

    // Reads the default tree below `root`; true only if every group was read completely.
    // Each value lands in the record as soon as it is read; the first missing key or
    // required value ends the load, so the rest keeps what the record held.
    virtual bool LoadDefaults(HKEY root);

    // The entry at `position`, or English/English for any position outside the list.
    LanguageEntry GetLanguage(int32_t position) const;

    bool operator==(const Setting&) const = default;

    int32_t language = kLanguageNotChosen;  // -1 after an Apply with nothing selected
    int32_t movieresolution = 1;            // 0 = 320 x 240, 1 = 640 x 480
    std::string resourcespath = "default";  // "default" = the user's documents folder
    int32_t moviesizemax = 16;              // megabytes
    int32_t autocreatingfolder = 0;

    int32_t shotstype = kUnitMinute;
    int32_t shotsvalue = 1;
    int32_t timestype = kUnitMinute;
    int32_t timesvalue = 1;

    // Indexed by TimeUnit: shots per minute/hour/day, then duration in minutes/hours/days.
    std::array<ValueRange, kTimeUnitCount> shotsRanges{};
    std::array<ValueRange, kTimeUnitCount> timesRanges{};

    std::string companyname = "Kestrovan Industries Limited";
    std::string producename = "Skelvane";
    std::string companywebsite = "https://www.kestrovan.example";
    std::string copyright = "Copyright (C) Kestrovan Industries Limited. All rights reserved.";
    std::string version = "3.1.00";
    std::string venderidlist = "0C45";
    std::string wifidevicename = "wifi device";

    uint32_t wifideviceip = 0xC0A80501;  // 192.168.5.1 as (a << 24) | (b << 16) | (c << 8) | d
    int32_t wifideviceport = 8080;
    int32_t haswifi = 0;

    std::vector<LanguageEntry> languages;
};

// True if using\system can be opened for reading.
bool UsingTreeExists();
// Reads using\timedshot, then using\system (each with the load's stop rule) into `setting`.
// True only if both groups were read completely.
bool ReadUsingTree(Setting& setting);
// Writes the using values; true only if every using\system value was written.
bool WriteUsingTree(const Setting& setting);
