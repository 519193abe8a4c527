// Texts of the chosen language, looked up by key in
// <install folder>Resource/<identifier>.lproj/Localizable.strings, with the call site's
// default text for every key the file does not give.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "Skelvane/settings/Setting.h"
#include "common/Singleton.h"

// The text of `key` in the chosen language, else `defaultText`. Called afresh for every
// text shown, so a language change takes effect at the next lookup. Any thread.
std::string GetLocalizedString(const std::string& key, const std::string& defaultText);

// Longest line of a language file, in bytes before its line end; longer lines are skipped.
inline constexpr size_t kMaxLanguageLineBytes = 999;

// One line of a language file: an entry needs a ";" and a "=" anywhere; the key is the
// first quoted part before the first "=", the value the first quoted part after it, with
// every "@" turned into "s" (so "%@" reads as "%s"). No escapes. False when the line
// gives no entry (also for an empty key or value).
bool ParseLanguageLine(const std::string& line, std::string& key, std::string& value);

// Adds the entries of an open language file to `table`, line by line to the end of the
// file; a key already in the table keeps its value. False when reading failed (the lines
// read before are kept). A line never takes more than the line bound in memory, however
// long it is.
bool ReadLanguageTable(std::FILE* file, std::map<std::string, std::string>& table);

class CLocalizableString : public Tolm::Singleton<CLocalizableString> {
    friend class Tolm::Singleton<CLocalizableString>;

public:
    // Loads the file of the language at `position` unless it is the one loaded last;
    // a file that failed is not retried until the position changes.
    void SelectLanguage(int32_t position);
    // Empties the table and fills it from the language file of the loaded position.
    void Load();
    // The value stored for `key`, else `defaultText`.
    std::string Find(const std::string& key, const std::string& defaultText) const;

private:
    CLocalizableString() = default;

    // Fills the table with the lock held; returns the failure text to show, or "".
    std::string LoadLocked(const std::string& installFolder);

    // Held for a lookup and for a whole reload, so no lookup sees a half-filled table.
    mutable std::mutex lock_;
    std::map<std::string, std::string> table_;
    int32_t loadedLanguage_ = kLanguageNotChosen;  // no resolved position equals it
};
