// The .reg text form: numbers in value lines, key depth, and values that must come back
// from the file as they went in.
#include <gtest/gtest.h>

#include <optional>

#include "platform/registry/RegFile.h"

namespace {

using registry::ParseRegText;
using registry::RegKey;
using registry::SerializeRegText;

constexpr const char* kRoot = "HKEY_CURRENT_USER";
constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n";

struct Read {
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const Read&) const = default;
};

TEST(RegFileTest, NumbersInValueLinesNeverThrowAndOverlongOnesDamageTheLine) {
    const struct {
        const char* data;
        std::optional<Read> read;  // nothing: the line is damaged
    } cases[] = {
        {"hex(11111111111111111):00", std::nullopt},
        {"hex(100000000):00", std::nullopt},
        {"hex(ffffffff):00", Read{0xffffffff, {0}}},
        {"hex(0000000000004):01,02,03,04", Read{REG_DWORD, {1, 2, 3, 4}}},
        {"hex():00", std::nullopt},
        {"hex(-1):00", std::nullopt},
        {"hex(+4):00", std::nullopt},
        {"hex( 4):00", std::nullopt},
        {"hex(0x4):00", std::nullopt},
        {"dword:ffffffff", Read{REG_DWORD, {0xff, 0xff, 0xff, 0xff}}},
        {"dword:0000012c", Read{REG_DWORD, {0x2c, 0x01, 0, 0}}},
        {"dword:fffffffff", std::nullopt},
        {"dword:-0000001", std::nullopt},
        {"dword:+0000001", std::nullopt},
        {"dword:0x000001", std::nullopt},
        {"dword:11111111111111111111111111", std::nullopt},
        {"hex:ff,0 0,", Read{REG_BINARY, {0xff, 0}}},
        {"hex:", Read{REG_BINARY, {}}},
        {"hex:1,02", std::nullopt},
        {"hex:012", std::nullopt},
        {"hex:11111111111111111111111111", std::nullopt},
        {"hex:,", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        const std::string text = std::string(kHeader) + "[HKEY_CURRENT_USER\\k]\n\"x\"=" + c.data +
                                 "\n\"after\"=dword:00000007\n";
        RegKey root;
        EXPECT_EQ(ParseRegText(text, kRoot, root, false), c.read.has_value());
        RegKey* key = root.Child("k");
        ASSERT_NE(key, nullptr);
        ASSERT_NE(key->Value("after"), nullptr);
        EXPECT_EQ(key->Value("after")->data, (std::vector<BYTE>{7, 0, 0, 0}));
        const registry::RegValue* x = key->Value("x");
        EXPECT_EQ(x ? std::optional<Read>(Read{x->type, x->data}) : std::nullopt, c.read);
    }
}

std::string KeyLine(size_t depth) {
    std::string line = "[HKEY_CURRENT_USER";
    for (size_t level = 0; level < depth; ++level) line += "\\k";
    return line + "]\n";
}

TEST(RegFileTest, KeysDeeperThanTheLimitDamageTheirLineOnly) {
    for (const size_t depth :
         {registry::kMaxKeyDepth, registry::kMaxKeyDepth + 1, size_t{300000}}) {
        SCOPED_TRACE(depth);
        const std::string text = std::string(kHeader) + KeyLine(depth) + "\"deep\"=\"1\"\n" +
                                 "[HKEY_CURRENT_USER\\near]\n\"near\"=\"2\"\n";
        RegKey root;  // a tree 300000 levels deep would overflow the stack when torn down
        EXPECT_EQ(ParseRegText(text, kRoot, root, false), depth <= registry::kMaxKeyDepth);
        EXPECT_EQ(root.children.size(), depth <= registry::kMaxKeyDepth ? 2u : 1u);
        ASSERT_NE(root.Child("near"), nullptr);
        EXPECT_NE(root.Child("near")->Value("near"), nullptr);
    }
}

TEST(RegFileTest, ValuesComeBackFromTheFileAsTheyWentIn) {
    const auto text = [](const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); };
    RegKey root;
    root.SetValue("onroot", REG_SZ, text("root keys hold values too"));
    RegKey& key = root.AddChild("k", false);
    // Text that looks like the end of a continued hex line must not swallow the next line.
    key.SetValue("path", REG_SZ, text("C:\\dir=hex\\"));
    key.SetValue("name=hex\\", REG_SZ, text("x\\"));
    key.SetValue("next", REG_DWORD, {1, 0, 0, 0});
    key.SetValue("lines", REG_SZ, text("one\r\ntwo"));
    key.SetValue("wide", 0xffffffff, {});
    const std::string written = SerializeRegText(root, kRoot, false);

    RegKey reread;
    ASSERT_TRUE(ParseRegText(written, kRoot, reread, false)) << written;
    EXPECT_EQ(SerializeRegText(reread, kRoot, false), written);
    ASSERT_NE(reread.Value("onroot"), nullptr);
    RegKey* rereadKey = reread.Child("k");
    ASSERT_NE(rereadKey, nullptr);
    ASSERT_EQ(rereadKey->values.size(), key.values.size()) << written;
    for (size_t i = 0; i < key.values.size(); ++i) {
        EXPECT_EQ(rereadKey->values[i].name, key.values[i].name);
        EXPECT_EQ(rereadKey->values[i].type, key.values[i].type);
        EXPECT_EQ(rereadKey->values[i].data, key.values[i].data);
    }
}

}  // namespace
