// Where pictures and movies go: the media root with one folder per kind, flat or dated
// layouts, and the name of the next file of each kind.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/Singleton.h"

enum MediaKind : int32_t { kMediaMovie = 0, kMediaSingleShot = 1, kMediaTimedShot = 2 };

// The parts of a flat-layout name such as "T20160406_002_0015.jpg".
struct FlatName {
    std::string date;
    int64_t run = 0;  // timed shots only
    int64_t number = 0;
};

// Splits a flat name of `kind`; nothing when it does not have that form.
std::optional<FlatName> ParseFlatName(const std::string& name, int32_t kind);
// n right-aligned in `width` characters, the leading blanks turned into "0"; never cut.
std::string PadNumber(int64_t n, int width);
// Today's local date as "YYYYMMDD".
std::string TodayText();

class CSavingLoactionManage : public Tolm::Singleton<CSavingLoactionManage> {
    friend class Tolm::Singleton<CSavingLoactionManage>;

public:
    // Each gives the full path of the next file of its kind in `folder` (none is created),
    // or false. The layout follows "autocreatingfolder" of the current settings record.
    // A name already on disk is never handed out: the next free number is used.
    bool NextMovieFile(const std::string& folder, std::string& path);
    bool NextSingleShotFile(const std::string& folder, std::string& path);
    // Prepares the run number and date of a new timed-shot run in `folder`.
    bool BeginTimedShotRun(const std::string& folder);
    bool NextTimedShotFile(const std::string& folder, std::string& path);
    // The pictures of the latest timed-shot run in `folder`, in name order: those of its
    // run folder (dated layout, the day it began) or of its run number (flat layout).
    std::vector<std::string> TimedShotRunPictures(const std::string& folder);

    // True when the folder exists or was created (one level); otherwise a box with the
    // path followed by the system's text for the failure.
    static bool EnsureFolder(const std::string& path);
    // The media root and its three kind folders, stopping at the first failure.
    static bool CreateMediaFolders();
    // Run before a capture starts: creates the media folders, then true when the saving
    // folder exists; otherwise the "ui_alert_not_exist_resource_location" box and false.
    static bool CheckSavingFolder();

    // Held while a single shot is named and written, so two streams taking one at the
    // same moment get a file each.
    std::mutex& SingleShotLock() { return singleShotLock_; }

private:
    CSavingLoactionManage() = default;

    bool NextFile(const std::string& folder, int32_t kind, std::string& path);

    // Timed-shot run state, shared by the run start and the saving thread.
    std::mutex timedShotLock_;
    int32_t folderNumber = 0;  // flat: run number; dated: run sub-folder number
    int64_t fileNumber = 0;    // the next timed-shot number
    std::string runDate;       // date text of flat timed-shot names; the dated run's first day

    std::mutex singleShotLock_;
};
