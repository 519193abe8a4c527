// The parameter record (settings plus the values derived from them) and the process-wide
// manager that hands out copies of the default, current and previous records.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Skelvane/settings/Setting.h"
#include "common/Singleton.h"

struct MovieFrameSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const MovieFrameSize&) const = default;
};

class CSettingParam : public Setting {
public:
    // The default tree, then "default" resolved to the documents folder and the media
    // root derived; returns the result of the tree load.
    bool LoadDefaults(HKEY root) override;

    // Normalises a folder typed or chosen by the user: "\" becomes "/", trailing "/"
    // go except a leading one. Derives the media root from it.
    void SetResourcesPath(const std::string& path);
    // mediaRoot = resourcespath + "/Skelvane", unless resourcespath is empty or already
    // ends with "Skelvane".
    void DeriveMediaRoot();

    std::string GetResourcesPath() const { return resourcespath; }
    std::string GetMediaRoot() const { return mediaRoot; }
    std::string GetSingleShotsFolder() const { return mediaRoot + "/Single Shots"; }
    std::string GetTimedShotsFolder() const { return mediaRoot + "/Timed Shots"; }
    std::string GetMoviesFolder() const { return mediaRoot + "/Movies"; }

    // Computed in 64 bits so stored counts of any size cannot overflow; 1 for an unknown unit.
    int64_t GetDurationMinutes() const;
    int64_t GetShotsPerDay() const;
    // Both counts inside the ranges of their units (inclusive); false for an unknown unit.
    bool IsTimedShotValid() const;
    // The stored language, or when not chosen the first entry whose langid is the user's
    // default language identifier, else 0.
    int32_t GetLanguageIndex() const;
    MovieFrameSize GetMovieFrameSize() const;
    // Appends the lower-cased entries of the ";"-separated vendor list to `ids`.
    void GetVendorIds(std::vector<std::string>& ids) const;

    bool operator==(const CSettingParam&) const = default;

    // Kept in memory only, never in the trees.
    int32_t captureWidth = 0;
    int32_t captureHeight = 0;
    bool interpolation = false;  // the chosen resolution is the interpolated last entry
    std::string mediaRoot;
};

class CSettingParamManage : public Tolm::Singleton<CSettingParamManage> {
    friend class Tolm::Singleton<CSettingParamManage>;

public:
    CSettingParam GetDefault() const { return defaults_; }  // never changes: no lock
    CSettingParam GetCurrent() const;
    CSettingParam GetPrevious() const;
    // Writes the using tree (a failure is not reported), then the current record becomes
    // the previous one and `param` the current one.
    void Apply(const CSettingParam& param);
    // The capture fields of the current record only; the store is not touched.
    void SetCurrentCapture(int32_t width, int32_t height, bool interpolation);

private:
    // Reads the default tree and lays the using tree over it.
    CSettingParamManage();

    CSettingParam defaults_;
    CSettingParam current_;
    CSettingParam previous_;
    mutable std::mutex lock_;
};
