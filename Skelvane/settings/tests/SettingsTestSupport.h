// Shared pieces of the settings tests: a private store and home, a recording message box,
// fresh singletons, and a default tree whose every value differs from the built-in ones.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Skelvane/settings/Setting.h"
#include "platform/sys/Sys.h"
#include "tests/support/RecordingPresenter.h"

// Each test gets its own store folder, home folder (for the documents folder), locale,
// install folder and message-box recorder, and rebuilds the settings singletons on demand.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Imports .reg text into the test's store; fails the test when it does not parse.
    void Import(const std::string& regText);
    // Forgets the manager and the language table, so the next use reads the store again.
    static void RebuildSingletons();
    // Writes a file below the temporary folder, creating its folders.
    std::string WriteFile(const std::string& relativePath, const std::string& content) const;
    static void SetLocale(const std::string& locale);
    std::string Documents() const { return folder_ + "/home/Documents"; }

    std::string folder_;
    std::shared_ptr<support::RecordingPresenter> boxes_;

private:
    std::shared_ptr<sys::IMessageBoxPresenter> previousPresenter_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

// A complete default tree with values unlike the built-in ones; some key names are spelt
// in other letter cases than the program uses.
std::string DistinctDefaultTree();
// What LoadDefaults of Setting reads from DistinctDefaultTree().
Setting DistinctDefaultSetting();
// `regText` without the value `valueName` in the section whose header ends with `keySuffix`.
std::string WithoutValue(const std::string& regText, const std::string& keySuffix,
                         const std::string& valueName);
// `regText` without the whole section whose header ends with `keySuffix`.
std::string WithoutKey(const std::string& regText, const std::string& keySuffix);
// `regText` with the value `valueName` of the section ending with `keySuffix` set to `line`'s
// right-hand side (a complete `"name"=...` line).
std::string WithValue(const std::string& regText, const std::string& keySuffix,
                      const std::string& valueName, const std::string& line);

std::string ReadWholeFile(const std::string& path);
