#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "common/CRegistry.h"
#include "common/Singleton.h"

namespace fs = std::filesystem;

namespace {

class CRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("skelvane-common-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        registry::SetStoreFolders(root_.string(), "");
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

TEST_F(CRegistryTest, TextLongerThan99CharactersCountsAsMissing) {
    CRegistry key;
    ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, "software\\Skelvane\\using\\system"));
    const struct {
        std::string text;
        bool readable;
    } cases[] = {
        {std::string(99, 'x'), true},
        {std::string(100, 'x'), false},
        {"", true},
        {[] {
             std::string s;
             for (int i = 0; i < 99; ++i) s += "图";
             return s;
         }(),
         true},
        {[] {
             std::string s;
             for (int i = 0; i < 100; ++i) s += "图";
             return s;
         }(),
         false},
        {std::string(49, 'x') + "\xF0\x9F\x93\xB7", true},   // a surrogate pair: 51 characters
        {std::string(98, 'x') + "\xF0\x9F\x93\xB7", false},  // 100 characters
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(key.WriteText("resourcespath", c.text));
        std::string read = "unchanged";
        EXPECT_EQ(key.ReadText("resourcespath", read), c.readable) << c.text.size();
        EXPECT_EQ(read, c.readable ? c.text : "unchanged");
    }
}

TEST_F(CRegistryTest, DwordReadIgnoresTypeButNotLength) {
    CRegistry key;
    ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, "software\\Skelvane\\default\\system"));
    ASSERT_TRUE(key.WriteDword("wifideviceip", 3232236801u));
    uint32_t value = 0;
    EXPECT_TRUE(key.ReadDword("wifideviceip", value));
    EXPECT_EQ(value, 3232236801u);
    ASSERT_TRUE(key.WriteText("four", "abcd"));
    EXPECT_TRUE(key.ReadDword("four", value));
    EXPECT_EQ(value, 0x64636261u);
    ASSERT_TRUE(key.WriteText("five", "abcde"));
    EXPECT_FALSE(key.ReadDword("five", value));
    EXPECT_FALSE(key.ReadDword("absent", value));

    CRegistry missing;
    EXPECT_FALSE(missing.Open(HKEY_CURRENT_USER, "software\\Skelvane\\using\\system"));
    EXPECT_FALSE(missing.ReadDword("x", value));
}

struct Counted : Tolm::Singleton<Counted> {
    Counted() {
        ++constructions;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    static inline std::atomic<int> constructions{0};
};

TEST(SingletonTest, RacingFirstUsesCreateOneInstance) {
    std::vector<std::thread> threads;
    std::vector<Counted*> seen(8);
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = Counted::Instance(); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(Counted::constructions.load(), 1);
    for (Counted* instance : seen) EXPECT_EQ(instance, seen[0]);
    Counted::Destroy();
    EXPECT_NE(Counted::Instance(), nullptr);
    EXPECT_EQ(Counted::constructions.load(), 2);
    Counted::Destroy();
}

}  // namespace
