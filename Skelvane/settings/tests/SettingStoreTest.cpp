// The default and using trees: what is read, where a load stops, what is written.
#include <gtest/gtest.h>

#include <functional>

#include "Skelvane/settings/Setting.h"
#include "Skelvane/settings/tests/SettingsTestSupport.h"
#include "common/CRegistry.h"

namespace {

class SettingStoreTest : public SettingsTest {};

TEST_F(SettingStoreTest, EmptyStoreLeavesTheBuiltInDefaults) {
    Setting s;
    EXPECT_FALSE(s.LoadDefaults(HKEY_CURRENT_USER));
    EXPECT_EQ(s, Setting());
    EXPECT_EQ(s.wifideviceip, 3232236801u);  // 192.168.5.1
    EXPECT_EQ(s.language, 0x1FFFFFFF);
    EXPECT_EQ(s.haswifi, 0);
    EXPECT_TRUE(s.languages.empty());
    EXPECT_EQ(s.shotsRanges[kUnitDay], (ValueRange{1, 300, 60}));
    EXPECT_FALSE(UsingTreeExists());
}

TEST_F(SettingStoreTest, CompleteTreeIsReadWholeWhateverTheLetterCaseOfItsKeys) {
    Import(DistinctDefaultTree());
    Setting s;
    EXPECT_TRUE(s.LoadDefaults(HKEY_CURRENT_USER));
    EXPECT_EQ(s, DistinctDefaultSetting());
}

// Each case damages the distinct tree and says which values still come from it.
struct StopCase {
    const char* name;
    std::function<std::string(const std::string&)> damage;
    bool complete;
    std::function<void(const Setting& stored, Setting& expected)> taken;
};

void TakeAboutUpTo(const Setting& stored, Setting& e, int count) {
    std::string Setting::*texts[] = {&Setting::companyname,    &Setting::producename,
                                     &Setting::companywebsite, &Setting::copyright,
                                     &Setting::version,        &Setting::venderidlist};
    for (int i = 0; i < count; ++i) e.*texts[i] = stored.*texts[i];
}

void TakeSystem(const Setting& stored, Setting& e) {
    e.resourcespath = stored.resourcespath;
    e.autocreatingfolder = stored.autocreatingfolder;
    e.movieresolution = stored.movieresolution;
    e.moviesizemax = stored.moviesizemax;
    e.language = stored.language;
    e.wifideviceip = stored.wifideviceip;
    e.wifideviceport = stored.wifideviceport;
}

void TakeAllButLanguages(const Setting& stored, Setting& e) {
    const auto languages = e.languages;
    e = stored;
    e.languages = languages;
}

TEST_F(SettingStoreTest, FirstMissingKeyOrValueEndsTheLoad) {
    const StopCase cases[] = {
        {"no version: about up to copyright, nothing later",
         [](const std::string& t) { return WithoutValue(t, "default\\about", "version"); }, false,
         [](const Setting& s, Setting& e) { TakeAboutUpTo(s, e, 4); }},
        {"no about key: nothing at all",
         [](const std::string& t) { return WithoutKey(t, "default\\about"); }, false,
         [](const Setting&, Setting&) {}},
        {"no language in system: the first four system values",
         [](const std::string& t) { return WithoutValue(t, "Default\\System", "language"); }, false,
         [](const Setting& s, Setting& e) {
             TakeAboutUpTo(s, e, 6);
             e.resourcespath = s.resourcespath;
             e.autocreatingfolder = s.autocreatingfolder;
             e.movieresolution = s.movieresolution;
             e.moviesizemax = s.moviesizemax;
         }},
        {"optional wireless values absent: still complete, haswifi 0",
         [](const std::string& t) {
             return WithoutValue(WithoutValue(t, "Default\\System", "wifidevicename"),
                                 "Default\\System", "haswifi");
         },
         true,
         [](const Setting& s, Setting& e) {
             e = s;
             e.wifidevicename = "wifi device";
             e.haswifi = 0;
         }},
        {"no hour range of shots: ranges from there on built in",
         [](const std::string& t) { return WithoutKey(t, "timedShot\\shots\\hour"); }, false,
         [](const Setting& s, Setting& e) {
             TakeAboutUpTo(s, e, 6);
             TakeSystem(s, e);
             e.wifidevicename = s.wifidevicename;
             e.haswifi = s.haswifi;
             e.shotstype = s.shotstype;
             e.timestype = s.timestype;
             e.shotsvalue = s.shotsvalue;
             e.timesvalue = s.timesvalue;
             e.shotsRanges[kUnitMinute] = s.shotsRanges[kUnitMinute];
         }},
        {"no default in the day range of times: its min and max stay",
         [](const std::string& t) { return WithoutValue(t, "timedShot\\times\\day", "default"); },
         false,
         [](const Setting& s, Setting& e) {
             TakeAllButLanguages(s, e);
             e.timesRanges[kUnitDay].defaultValue = 60;
         }},
        {"count 3 and the second entry without langid: the first entry only",
         [](const std::string& t) {
             return WithoutValue(
                 WithValue(t, "default\\languages", "count", "\"count\"=dword:00000003"),
                 "languages\\language1", "langid");
         },
         false,
         [](const Setting& s, Setting& e) {
             TakeAllButLanguages(s, e);
             e.languages = {s.languages[0]};
         }},
        {"count larger than the entries: the entries there are",
         [](const std::string& t) {
             return WithValue(t, "default\\languages", "count", "\"count\"=dword:00000005");
         },
         false, [](const Setting& s, Setting& e) { e = s; }},
        {"negative count: no entries, complete",
         [](const std::string& t) {
             return WithValue(t, "default\\languages", "count", "\"count\"=dword:ffffffff");
         },
         true, [](const Setting& s, Setting& e) { TakeAllButLanguages(s, e); }},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        registry::SetStoreFolders(folder_ + "/config-" + std::to_string(&c - cases), "");
        Import(c.damage(DistinctDefaultTree()));
        Setting loaded;
        EXPECT_EQ(loaded.LoadDefaults(HKEY_CURRENT_USER), c.complete);
        Setting expected;
        c.taken(DistinctDefaultSetting(), expected);
        EXPECT_EQ(loaded, expected);
    }
}

TEST_F(SettingStoreTest, TextsLongerThan99CharactersCountAsMissing) {
    struct {
        std::string path;
        bool accepted;
    } cases[] = {
        {"/" + std::string(98, 'a'), true},
        {"/" + std::string(99, 'a'), false},
        {"/" + std::string(32, 'x') +
             [] {
                 std::string wide;
                 for (int i = 0; i < 66; ++i) wide += "图";
                 return wide;
             }(),
         true},  // 99 characters in 231 bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.size());
        registry::SetStoreFolders(folder_ + "/config-" + std::to_string(c.path.size()), "");
        Import(WithValue(DistinctDefaultTree(), "Default\\System", "resourcespath",
                         "\"resourcespath\"=\"" + c.path + "\""));
        Setting s;
        EXPECT_EQ(s.LoadDefaults(HKEY_CURRENT_USER), c.accepted);
        EXPECT_EQ(s.resourcespath, c.accepted ? c.path : "default");
        // A failed system group stops the load: the timed shot stays built in.
        EXPECT_EQ(s.shotsvalue, c.accepted ? 3 : 1);
    }
}

TEST_F(SettingStoreTest, UsingTreeRoundTripsOnlyItsOwnValues) {
    Setting written = DistinctDefaultSetting();
    written.language = -1;  // Apply with nothing selected
    written.wifideviceip = 0xC0A80A14;
    ASSERT_TRUE(WriteUsingTree(written));
    ASSERT_TRUE(UsingTreeExists());

    Setting read;
    EXPECT_TRUE(ReadUsingTree(read));
    Setting expected;
    TakeSystem(written, expected);
    expected.shotstype = written.shotstype;
    expected.timestype = written.timestype;
    expected.shotsvalue = written.shotsvalue;
    expected.timesvalue = written.timesvalue;
    EXPECT_EQ(read, expected);  // about, ranges, wireless name and languages untouched
    EXPECT_EQ(read.language, -1);

    CRegistry key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "software\\skelvane\\USING\\system"));
    uint32_t ip = 0;
    EXPECT_TRUE(key.ReadDword("wifideviceip", ip));
    EXPECT_EQ(ip, 3232238100u);
    std::string absent;
    EXPECT_FALSE(key.ReadText("wifidevicename", absent));
}

TEST_F(SettingStoreTest, UsingTimedShotWithoutUsingSystemDoesNotCount) {
    Import(R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\software\Skelvane\using\timedshot]
"shotstype"=dword:00000002
"timestype"=dword:00000002
"shotsvalue"=dword:00000009
"timesvalue"=dword:00000009
)");
    EXPECT_FALSE(UsingTreeExists());
}

TEST_F(SettingStoreTest, GetLanguageFallsBackToEnglishOutsideTheList) {
    const Setting s = DistinctDefaultSetting();
    const LanguageEntry english{"English", "English", 0};
    struct {
        int32_t position;
        LanguageEntry expected;
    } cases[] = {{0, s.languages[0]}, {1, s.languages[1]},   {-1, english},
                 {2, english},        {0x1FFFFFFF, english}, {INT32_MIN, english}};
    for (const auto& c : cases) EXPECT_EQ(s.GetLanguage(c.position), c.expected) << c.position;
    EXPECT_EQ(Setting().GetLanguage(0), english);
}

}  // namespace
