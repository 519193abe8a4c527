// The parameter record's derived values and the manager's three records.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "Skelvane/settings/SettingParam.h"
#include "Skelvane/settings/tests/SettingsTestSupport.h"
#include "common/CRegistry.h"

namespace {

class SettingParamTest : public SettingsTest {
protected:
    static CSettingParamManage& Manager() { return *CSettingParamManage::Instance(); }
};

TEST_F(SettingParamTest, WithoutStoredSettingsCurrentIsDefaultBelowTheDocumentsFolder) {
    const CSettingParam current = Manager().GetCurrent();
    EXPECT_EQ(current, Manager().GetDefault());
    EXPECT_EQ(current, Manager().GetPrevious());
    EXPECT_EQ(current.GetResourcesPath(), Documents());
    EXPECT_EQ(current.GetMediaRoot(), Documents() + "/Skelvane");
    EXPECT_EQ(current.GetSingleShotsFolder(), Documents() + "/Skelvane/Single Shots");
    EXPECT_EQ(current.GetTimedShotsFolder(), Documents() + "/Skelvane/Timed Shots");
    EXPECT_EQ(current.GetMoviesFolder(), Documents() + "/Skelvane/Movies");
    EXPECT_EQ(current.captureWidth, 0);
    EXPECT_FALSE(current.interpolation);
}

TEST_F(SettingParamTest, DefaultSavingFolderIsResolvedOnlyWhenSpeltExactly) {
    const struct {
        const char* stored;
        std::string resourcespath;
    } cases[] = {
        {"default", Documents()}, {"Default", "Default"}, {"/srv/Skelvane", "/srv/Skelvane"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        registry::SetStoreFolders(folder_ + "/config-" + std::to_string(&c - cases), "");
        Import(WithValue(DistinctDefaultTree(), "Default\\System", "resourcespath",
                         std::string("\"resourcespath\"=\"") + c.stored + "\""));
        CSettingParam param;
        EXPECT_TRUE(param.LoadDefaults(HKEY_CURRENT_USER));
        EXPECT_EQ(param.resourcespath, c.resourcespath);
        CSettingParam derived;
        derived.resourcespath = c.resourcespath;
        derived.DeriveMediaRoot();
        EXPECT_EQ(param.mediaRoot, derived.mediaRoot);
    }
}

TEST_F(SettingParamTest, UsingTreeIsLaidOverTheDefaults) {
    Import(DistinctDefaultTree());
    Import(R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\software\Skelvane\using\timedshot]
"shotstype"=dword:00000002
"timestype"=dword:00000000
"shotsvalue"=dword:00000008
"timesvalue"=dword:00000009

[HKEY_CURRENT_USER\software\Skelvane\using\system]
"resourcespath"="default"
"autocreatingfolder"=dword:00000000
"movieresolution"=dword:00000001
"moviesizemax"=dword:00000040
"language"=dword:ffffffff
"wifideviceip"=dword:c0a80a14
"wifideviceport"=dword:00000050
)");
    const CSettingParam def = Manager().GetDefault();
    const CSettingParam current = Manager().GetCurrent();
    EXPECT_EQ(def, [] {
        CSettingParam expected;
        static_cast<Setting&>(expected) = DistinctDefaultSetting();
        expected.DeriveMediaRoot();
        return expected;
    }());
    EXPECT_EQ(current.shotstype, 2);
    EXPECT_EQ(current.shotsvalue, 8);
    EXPECT_EQ(current.timesvalue, 9);
    EXPECT_EQ(current.moviesizemax, 64);
    EXPECT_EQ(current.language, -1);
    EXPECT_EQ(current.wifideviceport, 80);
    EXPECT_EQ(current.companyname, "Maker");  // never in the using tree
    EXPECT_EQ(current.shotsRanges, def.shotsRanges);
    // A stored "default" is a folder name here, not the documents folder.
    EXPECT_EQ(current.resourcespath, "default");
    EXPECT_EQ(current.mediaRoot, "default/Skelvane");
    EXPECT_EQ(Manager().GetPrevious(), current);
}

TEST_F(SettingParamTest, TooLongUsingFolderDropsEveryUsingSystemValue) {
    CSettingParam applied = Manager().GetDefault();
    applied.SetResourcesPath("/" + std::string(120, 'p'));
    applied.moviesizemax = 99;
    applied.shotsvalue = 7;
    Manager().Apply(applied);
    EXPECT_EQ(Manager().GetCurrent(), applied);  // the running program keeps it

    RebuildSingletons();
    const CSettingParam restarted = Manager().GetCurrent();
    EXPECT_EQ(restarted.shotsvalue, 7);  // using\timedshot was read
    EXPECT_EQ(restarted.resourcespath, Documents());
    EXPECT_EQ(restarted.moviesizemax, 16);
}

TEST_F(SettingParamTest, ApplyKeepsThePreviousRecordEvenWhenTheStoreFails) {
    for (const bool storeWritable : {true, false}) {
        SCOPED_TRACE(storeWritable);
        if (!storeWritable) {
            // A store folder below a plain file can never be created.
            const std::string blocker = WriteFile("blocker", "x");
            registry::SetStoreFolders(blocker + "/config", "");
        }
        RebuildSingletons();
        CSettingParam a = Manager().GetDefault();
        a.moviesizemax = 100;
        CSettingParam b = a;
        b.SetResourcesPath("/media/b");
        b.language = 1;
        Manager().Apply(a);
        Manager().Apply(b);
        EXPECT_EQ(Manager().GetPrevious(), a);
        EXPECT_EQ(Manager().GetCurrent(), b);
        EXPECT_EQ(WriteUsingTree(b), storeWritable);

        RebuildSingletons();
        EXPECT_EQ(Manager().GetCurrent().resourcespath, storeWritable ? "/media/b" : Documents());
    }
}

TEST_F(SettingParamTest, SetCurrentCaptureChangesOnlyTheCurrentCaptureFields) {
    Manager().SetCurrentCapture(1280, 720, true);
    CSettingParam expected = Manager().GetDefault();
    expected.captureWidth = 1280;
    expected.captureHeight = 720;
    expected.interpolation = true;
    EXPECT_EQ(Manager().GetCurrent(), expected);
    EXPECT_EQ(Manager().GetPrevious(), Manager().GetDefault());
    EXPECT_FALSE(UsingTreeExists());
}

TEST(SettingParamArithmetic, ShotsPerDayAndDuration) {
    const struct {
        int32_t type;
        int32_t value;
        int64_t shotsPerDay;
        int64_t durationMinutes;
    } cases[] = {
        {kUnitMinute, 2, 2880, 2},
        {kUnitHour, 3, 72, 180},
        {kUnitDay, 2, 2, 2880},
        {kUnitMinute, 0, 1, 0},
        {3, 5, 1, 1},
        {-1, 5, 1, 1},
        {kUnitDay, INT32_MAX, INT32_MAX, int64_t{INT32_MAX} * 1440},
        {kUnitMinute, INT32_MAX, int64_t{INT32_MAX} * 1440, INT32_MAX},
    };
    for (const auto& c : cases) {
        CSettingParam p;
        p.shotstype = p.timestype = c.type;
        p.shotsvalue = p.timesvalue = c.value;
        EXPECT_EQ(p.GetShotsPerDay(), c.shotsPerDay) << c.type << " " << c.value;
        EXPECT_EQ(p.GetDurationMinutes(), c.durationMinutes) << c.type << " " << c.value;
    }
}

TEST(SettingParamArithmetic, TimedShotIsValidOnlyInsideTheRangesOfItsUnits) {
    CSettingParam p;
    p.shotsRanges = {ValueRange{1, 10, 5}, ValueRange{2, 20, 5}, ValueRange{3, 30, 5}};
    p.timesRanges = {ValueRange{4, 40, 5}, ValueRange{5, 50, 5}, ValueRange{6, 60, 5}};
    const struct {
        int32_t shotstype, shotsvalue, timestype, timesvalue;
        bool valid;
    } cases[] = {
        {kUnitMinute, 1, kUnitMinute, 40, true},
        {kUnitMinute, 0, kUnitMinute, 40, false},
        {kUnitMinute, 11, kUnitMinute, 4, false},
        {kUnitHour, 20, kUnitHour, 5, true},
        {kUnitHour, 21, kUnitHour, 5, false},
        {kUnitDay, 3, kUnitDay, 60, true},
        {kUnitDay, 3, kUnitDay, 61, false},
        {kUnitDay, 2, kUnitHour, 5, false},
        {3, 5, kUnitMinute, 5, false},
        {kUnitMinute, 5, -1, 5, false},
        {kUnitMinute, -5, kUnitMinute, 5, false},
    };
    for (const auto& c : cases) {
        p.shotstype = c.shotstype;
        p.shotsvalue = c.shotsvalue;
        p.timestype = c.timestype;
        p.timesvalue = c.timesvalue;
        EXPECT_EQ(p.IsTimedShotValid(), c.valid)
            << c.shotstype << "/" << c.shotsvalue << " " << c.timestype << "/" << c.timesvalue;
    }
}

TEST(SettingParamArithmetic, VendorListSplitting) {
    const struct {
        const char* list;
        std::vector<std::string> ids;
    } cases[] = {
        {"0C45", {"0c45"}},
        {"0C45;1A2B", {"0c45", "1a2b"}},
        {"0C45;", {"0c45", ""}},
        {";0C45;1A2B", {";0c45;1a2b"}},
        {"0C45;;1A2B;3C", {"0c45", ";1a2b;3c"}},
        {"", {""}},
        {" 0C45 ; 1A2B", {" 0c45 ", " 1a2b"}},
    };
    for (const auto& c : cases) {
        CSettingParam p;
        p.venderidlist = c.list;
        std::vector<std::string> ids = {"kept"};
        p.GetVendorIds(ids);
        std::vector<std::string> expected = {"kept"};
        expected.insert(expected.end(), c.ids.begin(), c.ids.end());
        EXPECT_EQ(ids, expected) << c.list;
    }
}

TEST(SettingParamArithmetic, SavingFolderNormalisationAndMediaRoot) {
    const struct {
        const char* typed;
        const char* resourcespath;
        const char* mediaRoot;
    } cases[] = {
        {"/home/u/Pictures", "/home/u/Pictures", "/home/u/Pictures/Skelvane"},
        {"/home/u/Pictures/Skelvane", "/home/u/Pictures/Skelvane", "/home/u/Pictures/Skelvane"},
        {"/home/u/Pictures/skelvane", "/home/u/Pictures/skelvane",
         "/home/u/Pictures/skelvane/Skelvane"},
        {"/media/", "/media", "/media/Skelvane"},
        {"\\media\\", "/media", "/media/Skelvane"},
        {"/data//", "/data", "/data/Skelvane"},
        {"D:\\media/x\\", "D:/media/x", "D:/media/x/Skelvane"},
        {"//", "/", "//Skelvane"},
        {"/", "/", "//Skelvane"},
        {"", "", ""},
        {"MySkelvane", "MySkelvane", "MySkelvane"},
    };
    for (const auto& c : cases) {
        CSettingParam p;
        p.SetResourcesPath(c.typed);
        EXPECT_EQ(p.GetResourcesPath(), c.resourcespath) << c.typed;
        EXPECT_EQ(p.GetMediaRoot(), c.mediaRoot) << c.typed;
    }
}

TEST(SettingParamArithmetic, MovieFrameSize) {
    const struct {
        int32_t movieresolution;
        MovieFrameSize size;
    } cases[] = {{1, {640, 480}}, {0, {320, 240}}, {2, {0, 0}}, {-1, {0, 0}}};
    for (const auto& c : cases) {
        CSettingParam p;
        p.movieresolution = c.movieresolution;
        EXPECT_EQ(p.GetMovieFrameSize(), c.size) << c.movieresolution;
    }
}

TEST_F(SettingParamTest, LanguageIndexFollowsTheSystemLanguageWhenNoneWasChosen) {
    const std::vector<LanguageEntry> two = {{"English", "English", 0x0409},
                                            {"zh-Hans", "简体中文", 0x0804}};
    const struct {
        int32_t language;
        std::vector<LanguageEntry> languages;
        const char* locale;
        int32_t index;
    } cases[] = {
        {0x1FFFFFFF, two, "zh_CN.UTF-8", 1}, {0x1FFFFFFF, two, "en_US.UTF-8", 0},
        {0x1FFFFFFF, two, "de_DE.UTF-8", 0}, {0x1FFFFFFF, {}, "zh_CN.UTF-8", 0},
        {1, two, "en_US.UTF-8", 1},          {-1, two, "zh_CN.UTF-8", -1},
        {7, two, "zh_CN.UTF-8", 7},
    };
    for (const auto& c : cases) {
        SetLocale(c.locale);
        CSettingParam p;
        p.language = c.language;
        p.languages = c.languages;
        EXPECT_EQ(p.GetLanguageIndex(), c.index) << c.language << " " << c.locale;
    }
}

}  // namespace
