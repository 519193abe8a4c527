// Seeded mutation tests of the .reg parser, built from the shipped default tree: no input
// makes it throw or crash, whatever it reads it writes back readable (CheckStoreText), and
// a damaged line costs nothing but its own value.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "platform/registry/RegFile.h"
#include "platform/registry/tests/RegFileFuzzCheck.h"
#include "platform/registry/tests/TextMutator.h"

namespace {

using registry::ParseRegText;
using registry::RegKey;
using registry::SerializeRegText;

constexpr const char* kRoot = "HKEY_CURRENT_USER";

// The shipped default tree plus the forms it lacks: a continued hex line, typed hex
// values, the default value, escapes, values on the root itself.
std::string ValidStore() {
    std::ifstream file(SKELVANE_SOURCE_DIR "/Resource/DefaultSettings.reg", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str() +
           "\n[HKEY_CURRENT_USER]\n"
           "\"rootvalue\"=\"on the root\"\n"
           "\n[HKEY_CURRENT_USER\\software\\Skelvane\\fuzz]\n"
           "@=\"default \\\"quoted\\\" C:\\\\path\"\n"
           "\"filterdata\"=hex:02,00,00,00,01,00,00,00,\\\n"
           "  ff,fe,00\n"
           "\"multiline\"=hex(1):6c,69,6e,65,0a,74,77,6f\n"
           "\"widetype\"=hex(7):61,00,00,00\n"
           "\"allbits\"=dword:ffffffff\n";
}

// Every value of a tree by (lower-case key path, lower-case name): type and bytes.
using Values = std::map<std::pair<std::string, std::string>, std::pair<DWORD, std::vector<BYTE>>>;

void Collect(const RegKey& key, const std::string& path, Values& out) {
    for (const registry::RegValue& value : key.values)
        out[{path, registry::LowerCase(value.name)}] = {value.type, value.data};
    for (const auto& [lower, child] : key.children) Collect(*child, path + "\\" + lower, out);
}

Values ValuesOf(const std::string& text) {
    RegKey root;
    ParseRegText(text, kRoot, root, false);
    Values values;
    Collect(root, "", values);
    return values;
}

TEST(RegFileFuzz, MutatedFilesNeverThrowAndAreWrittenBackReadable) {
    const std::string valid = ValidStore();
    RegKey validTree;
    ASSERT_TRUE(ParseRegText(valid, kRoot, validTree, false));
    fuzz::TextMutator mutator(fuzz::Seed());
    const uint32_t runs = fuzz::Runs(3000);
    uint32_t damaged = 0;
    for (uint32_t run = 0; run < runs; ++run) {
        const std::string text = mutator.MutateFile(valid);
        // Built only when an assertion fails: a trace per input would cost more than the parsing.
        const auto input = [&] {
            return "run " + std::to_string(run) + ", input:\n" + fuzz::Shown(text);
        };
        bool intact = true;
        try {
            ASSERT_EQ(fuzz::CheckStoreText(text, intact), "") << input();
        } catch (const std::exception& error) {
            FAIL() << "threw " << error.what() << " at " << input();
        }
        damaged += !intact;
    }
    EXPECT_GT(damaged, runs / 2);  // the mutations do damage
}

TEST(RegFileFuzz, DamagedValueLineCostsOnlyItsOwnValue) {
    const std::vector<std::string> lines = fuzz::Lines(ValidStore());
    // Value lines that stand alone (not part of a continued hex value), with the header of
    // their key.
    std::vector<std::pair<size_t, size_t>> candidates;
    size_t header = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!line.empty() && line[0] == '[') header = i;
        const bool continued = line.ends_with('\\') || lines[i - 1].ends_with('\\');
        if (!line.empty() && (line[0] == '"' || line[0] == '@') && !continued)
            candidates.emplace_back(i, header);
    }
    ASSERT_GT(candidates.size(), 20u);
    std::map<size_t, Values> withoutLine;  // what the file says without each candidate
    for (const auto& [line, unused] : candidates) {
        std::vector<std::string> rest = lines;
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(line));
        withoutLine[line] = ValuesOf(fuzz::Joined(rest));
    }

    fuzz::TextMutator mutator(fuzz::Seed() + 1);
    const uint32_t runs = fuzz::Runs(2000);
    uint32_t lost = 0;
    for (uint32_t run = 0; run < runs; ++run) {
        const auto [index, headerIndex] = candidates[mutator.Below(candidates.size())];
        std::string damaged = mutator.MutateLine(lines[index]);
        if (damaged.ends_with('\\')) damaged += ';';  // else it would take the next line in
        const auto input = [&] {
            return "run " + std::to_string(run) + ", line " + std::to_string(index) + ": " +
                   fuzz::Shown(damaged);
        };
        std::vector<std::string> file = lines;
        file[index] = damaged;
        Values read;
        Values own;  // what the damaged line still says, read under its own key
        try {
            read = ValuesOf(fuzz::Joined(file));
            own = ValuesOf(fuzz::Joined({lines[0], lines[headerIndex], damaged}));
        } catch (const std::exception& error) {
            FAIL() << "threw " << error.what() << " at " << input();
        }
        lost += own.empty();
        for (const auto& [where, value] : withoutLine[index]) {
            if (own.count(where) != 0) continue;
            const auto found = read.find(where);
            ASSERT_NE(found, read.end()) << where.first << " " << where.second << " at " << input();
            ASSERT_EQ(found->second, value)
                << where.first << " " << where.second << " at " << input();
        }
        for (const auto& [where, value] : read)
            ASSERT_TRUE(withoutLine[index].count(where) != 0 || own.count(where) != 0)
                << "a value from nowhere: " << where.first << " " << where.second << " at "
                << input();
    }
    EXPECT_GT(lost, runs / 4);  // many damaged lines give no value at all
}

}  // namespace
