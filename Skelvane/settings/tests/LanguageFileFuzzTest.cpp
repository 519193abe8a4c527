// Seeded mutation tests of the language file reader, built from the shipped language
// files: no input makes it throw or crash, every entry it gives is well formed, and a
// damaged line costs nothing but its own entry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "Skelvane/settings/LocalizableString.h"
#include "platform/registry/tests/TextMutator.h"

namespace {

using LanguageTable = std::map<std::string, std::string>;

// The entries the reader takes from a file holding `text`.
LanguageTable ReadLanguageText(std::string text) {
    LanguageTable table;
    if (text.empty()) return table;  // an empty memory file cannot be opened
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file(fmemopen(text.data(), text.size(), "r"));
    EXPECT_TRUE(file && ReadLanguageTable(file.get(), table));
    return table;
}

// Reads `text` into `table`; "" when every entry is well formed, else what broke.
std::string CheckLanguageText(const std::string& text, LanguageTable& table) {
    table = ReadLanguageText(text);
    for (const auto& [key, value] : table) {
        if (key.empty() || value.empty()) return "an empty key or value for \"" + key + "\"";
        if (key.find('"') != std::string::npos || value.find_first_of("\"@") != std::string::npos)
            return "a quote or an @ kept in \"" + key + "\"";
        if (key.size() + value.size() >= kMaxLanguageLineBytes)
            return "an entry longer than a line: \"" + key + "\"";
    }
    return {};
}

std::string ShippedFile(const std::string& identifier) {
    std::ifstream file(SKELVANE_SOURCE_DIR "/Resource/" + identifier + ".lproj/Localizable.strings",
                       std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

const std::string kShipped[] = {ShippedFile("English"), ShippedFile("zh-Hans")};

TEST(LanguageFileFuzz, MutatedFilesNeverThrowAndGiveOnlyWellFormedEntries) {
    const LanguageTable valid[] = {ReadLanguageText(kShipped[0]), ReadLanguageText(kShipped[1])};
    ASSERT_GT(valid[0].size(), 20u);
    ASSERT_GT(valid[1].size(), 20u);
    fuzz::TextMutator mutator(fuzz::Seed());
    const uint32_t runs = fuzz::Runs(3000);
    uint32_t changed = 0;
    for (uint32_t run = 0; run < runs; ++run) {
        const size_t which = run % 2;
        const std::string text = mutator.MutateFile(kShipped[which]);
        // Built only when an assertion fails: a trace per input would cost more than the parsing.
        const auto input = [&] {
            return "run " + std::to_string(run) + ", input:\n" + fuzz::Shown(text);
        };
        LanguageTable table;
        try {
            ASSERT_EQ(CheckLanguageText(text, table), "") << input();
        } catch (const std::exception& error) {
            FAIL() << "threw " << error.what() << " at " << input();
        }
        changed += table != valid[which];
    }
    EXPECT_GT(changed, runs / 2);  // the mutations do damage
}

TEST(LanguageFileFuzz, DamagedLineCostsOnlyItsOwnEntry) {
    const std::vector<std::string> lines = fuzz::Lines(kShipped[0]);
    std::vector<size_t> entries;  // lines that give an entry
    std::map<size_t, LanguageTable> withoutLine;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string key, value;
        if (!ParseLanguageLine(lines[i], key, value)) continue;
        entries.push_back(i);
        std::vector<std::string> rest = lines;
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i));
        withoutLine[i] = ReadLanguageText(fuzz::Joined(rest));
    }
    ASSERT_GT(entries.size(), 20u);

    fuzz::TextMutator mutator(fuzz::Seed() + 1);
    const uint32_t runs = fuzz::Runs(2000);
    uint32_t lost = 0;
    for (uint32_t run = 0; run < runs; ++run) {
        const size_t index = entries[mutator.Below(entries.size())];
        const std::string damaged = mutator.MutateLine(lines[index]);
        const auto input = [&] {
            return "run " + std::to_string(run) + ", line " + std::to_string(index) + ": " +
                   fuzz::Shown(damaged);
        };
        std::vector<std::string> file = lines;
        file[index] = damaged;
        LanguageTable read;
        LanguageTable own;  // what the damaged line still gives on its own
        try {
            read = ReadLanguageText(fuzz::Joined(file));
            own = ReadLanguageText(damaged + "\n");
        } catch (const std::exception& error) {
            FAIL() << "threw " << error.what() << " at " << input();
        }
        lost += own.empty();
        for (const auto& [key, value] : withoutLine[index]) {
            if (own.count(key) != 0) continue;
            const auto found = read.find(key);
            ASSERT_NE(found, read.end()) << key << " at " << input();
            ASSERT_EQ(found->second, value) << key << " at " << input();
        }
        for (const auto& [key, value] : read)
            ASSERT_TRUE(withoutLine[index].count(key) != 0 || own.count(key) != 0)
                << "an entry from nowhere: " << key << " at " << input();
    }
    EXPECT_GT(lost, runs / 4);  // many damaged lines give no entry at all
}

}  // namespace
