// The language table: the line grammar, the choice of file, the failure boxes and
// lookups racing reloads.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "Skelvane/settings/tests/SettingsTestSupport.h"

namespace {

constexpr const char* kDefault = "<default>";

class LocalizableStringTest : public SettingsTest {
protected:
    std::string LanguageFile(const std::string& identifier) const {
        return folder_ + "/install/Resource/" + identifier + ".lproj/Localizable.strings";
    }
    void WriteLanguageFile(const std::string& identifier, const std::string& content) {
        WriteFile("install/Resource/" + identifier + ".lproj/Localizable.strings", content);
    }
    static void ApplyLanguage(int32_t language) {
        CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
        param.language = language;
        CSettingParamManage::Instance()->Apply(param);
    }
};

// A line of exactly `bytes` bytes defining key "edge".
std::string LineOfBytes(size_t bytes) {
    const std::string head = "\"edge\" = \"";
    const std::string tail = "\";";
    return head + std::string(bytes - head.size() - tail.size(), 'v') + tail;
}

TEST_F(LocalizableStringTest, LineGrammar) {
    using Expect = std::pair<const char*, std::optional<std::string>>;
    const struct {
        const char* name;
        std::string file;
        std::vector<Expect> expected;
    } cases[] = {
        {"plain entry", "\"a\" = \"b\";\n", {{"a", "b"}}},
        {"no semicolon", "\"a\" = \"b\"\n\"c\" = \"d\";\n", {{"a", std::nullopt}, {"c", "d"}}},
        {"no equals sign", "\"a\" \"b\";\n\"c\" = \"d\";\n", {{"a", std::nullopt}}},
        {"two pairs on a line",
         "\"a\" = \"b\"; \"c\" = \"d\";\n",
         {{"a", "b"}, {"c", std::nullopt}}},
        {"@ becomes s", "\"save\" = \"Save %@ now @home\";\n", {{"save", "Save %s now shome"}}},
        {"no escapes", "\"k\" = \"x\\\"y\";\n", {{"k", "x\\"}}},
        {"first definition wins", "\"a\" = \"1\";\n\"a\" = \"2\";\n", {{"a", "1"}}},
        {"keys are case-sensitive",
         "\"Key\" = \"upper\";\n\"key\" = \"lower\";\n",
         {{"Key", "upper"}, {"key", "lower"}, {"KEY", std::nullopt}}},
        {"byte-order mark",
         "\xEF\xBB\xBF\"a\" = \"b\";\n\"c\" = \"d\";\n",
         {{"a", "b"}, {"c", "d"}}},
        {"CR LF line ends", "\"a\" = \"b\";\r\n\"c\" = \"d\";\r\n", {{"a", "b"}, {"c", "d"}}},
        {"no line end at the end", "\"a\" = \"b\";", {{"a", "b"}}},
        {"comment-looking line is an entry",
         "// \"c\" = \"d\";\n# \"e\" = \"f\"\n",
         {{"c", "d"}, {"e", std::nullopt}}},
        {"empty key or value",
         "\"\" = \"x\";\n\"e\" = \"\";\n\"c\" = \"d\";\n",
         {{"", std::nullopt}, {"e", std::nullopt}}},
        {"missing quotes",
         "\"a = \"b\";\n\"m\" = \"open;\n\"n\" = close\";\n\"c\" = \"d\";\n",
         {{"a", std::nullopt}, {"a = ", std::nullopt}, {"m", std::nullopt}, {"n", std::nullopt}}},
        {"text outside the quotes is ignored", "  \"z\"  =  \"1\" ; tail \"junk\"\n", {{"z", "1"}}},
        {"equals and semicolon inside the value", "\"eq\" = \"a=b;c\";\n", {{"eq", "a=b;c"}}},
        {"semicolon inside the key only", "\"a;\" = \"b\"\n", {{"a;", "b"}}},
        {"tab and UTF-8 kept", "\"t\" = \"没有\t摄像头\";\n", {{"t", "没有\t摄像头"}}},
        {"5000-byte line skipped",
         "\"long\" = \"" + std::string(4988, 'x') + "\";\n\"after\" = \"ok\";\n",
         {{"long", std::nullopt}, {"after", "ok"}}},
        {"999 bytes taken", LineOfBytes(999) + "\r\n", {{"edge", std::string(987, 'v')}}},
        {"1000 bytes skipped",
         LineOfBytes(1000) + "\n\"c\" = \"d\";",
         {{"edge", std::nullopt}, {"c", "d"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RebuildSingletons();
        WriteLanguageFile("English", c.file);
        for (const auto& [key, value] : c.expected)
            EXPECT_EQ(GetLocalizedString(key, kDefault), value.value_or(kDefault)) << key;
    }
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(LocalizableStringTest, ParseLanguageLineLeavesNoEntryForUnusableLines) {
    std::string key = "k0";
    std::string value = "v0";
    EXPECT_FALSE(ParseLanguageLine("", key, value));
    EXPECT_FALSE(ParseLanguageLine("\"a\" = \"b\"", key, value));
    EXPECT_TRUE(ParseLanguageLine("\"a\"=\"b@\";", key, value));
    EXPECT_EQ(key, "a");
    EXPECT_EQ(value, "bs");
}

TEST_F(LocalizableStringTest, FileOfTheChosenLanguageIsUsed) {
    Import(DistinctDefaultTree());  // English, zh-Hans; "language" 1
    WriteLanguageFile("English", "\"ui_dlg_setting\" = \"Settings\";\n");
    WriteLanguageFile("zh-Hans", "\"ui_dlg_setting\" = \"设置\";\n");
    EXPECT_EQ(GetLocalizedString("ui_dlg_setting", kDefault), "设置");
    ApplyLanguage(0);
    EXPECT_EQ(GetLocalizedString("ui_dlg_setting", kDefault), "Settings");
    ApplyLanguage(5);  // outside the list: the English file
    EXPECT_EQ(GetLocalizedString("ui_dlg_setting", kDefault), "Settings");
    ApplyLanguage(0x1FFFFFFF);  // follow the system language
    SetLocale("zh_CN.UTF-8");
    EXPECT_EQ(GetLocalizedString("ui_dlg_setting", kDefault), "设置");
    SetLocale("fr_FR.UTF-8");
    EXPECT_EQ(GetLocalizedString("ui_dlg_setting", kDefault), "Settings");
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(LocalizableStringTest, EmptyStoreUsesTheEnglishFile) {
    WriteLanguageFile("English", "\"ui_alert_ok\" = \"OK\";\n");
    EXPECT_EQ(GetLocalizedString("ui_alert_ok", "确定"), "OK");
    EXPECT_EQ(GetLocalizedString("ui_missing", "fallback"), "fallback");
}

TEST_F(LocalizableStringTest, MissingFileIsReportedOnceUntilTheLanguageChanges) {
    Import(DistinctDefaultTree());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(GetLocalizedString("ui_dlg_about", "About"), "About");
    EXPECT_EQ(boxes_->Texts(), std::vector<std::string>{"Fail to open " + LanguageFile("zh-Hans")});
    EXPECT_EQ(boxes_->Captions(), std::vector<std::string>{"Lumivor"});

    CSettingParam unchanged = CSettingParamManage::Instance()->GetCurrent();
    unchanged.moviesizemax = 64;
    CSettingParamManage::Instance()->Apply(unchanged);
    GetLocalizedString("ui_dlg_about", "About");
    EXPECT_EQ(boxes_->Texts().size(), 1u);

    ApplyLanguage(0);
    GetLocalizedString("ui_dlg_about", "About");
    GetLocalizedString("ui_dlg_about", "About");
    EXPECT_EQ(boxes_->Texts(),
              (std::vector<std::string>{"Fail to open " + LanguageFile("zh-Hans"),
                                        "Fail to open " + LanguageFile("English")}));
}

TEST_F(LocalizableStringTest, FileWithoutEntriesIsReported) {
    for (const std::string& content :
         std::vector<std::string>{"", "no entries here\n", LineOfBytes(3000) + "\n"}) {
        RebuildSingletons();
        WriteLanguageFile("English", content);
        EXPECT_EQ(GetLocalizedString("edge", "shown"), "shown");
    }
    EXPECT_EQ(boxes_->Texts(), std::vector<std::string>(3, "Faiure to get language string"));
}

TEST_F(LocalizableStringTest, LookupsOnWorkersNeverSeeAHalfLoadedTable) {
    Import(DistinctDefaultTree());
    std::string english;
    std::string chinese;
    for (int i = 0; i < 300; ++i) {
        english += "\"key" + std::to_string(i) + "\" = \"en\";\n";
        chinese += "\"key" + std::to_string(i) + "\" = \"zh\";\n";
    }
    WriteLanguageFile("English", english);
    WriteLanguageFile("zh-Hans", chinese);

    // The UI thread switches languages while workers look texts up.
    CLocalizableString& strings = *CLocalizableString::Instance();
    strings.SelectLanguage(1);
    std::atomic<bool> running{true};
    std::atomic<int> defaultsSeen{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w)
        workers.emplace_back([&] {
            while (running.load(std::memory_order_relaxed))
                if (strings.Find("key299", kDefault) == kDefault) ++defaultsSeen;
        });
    for (int i = 0; i < 400; ++i) strings.SelectLanguage(i % 2);
    running = false;
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(defaultsSeen.load(), 0);
    EXPECT_TRUE(boxes_->Texts().empty());
}

}  // namespace
