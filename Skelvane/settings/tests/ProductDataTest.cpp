// The shipped product data: the default tree and the two language files.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "Skelvane/settings/tests/SettingsTestSupport.h"
#include "platform/registry/Registry.h"

namespace {

const std::string kResource = std::string(SKELVANE_SOURCE_ROOT) + "/Resource/";

// Every key the program looks up, with the placeholders its text must carry, in order.
const std::pair<const char*, const char*> kKeys[] = {
    {"ui_alert_exit_system", ""},
    {"ui_alert_exit_system_doing_recording", ""},
    {"ui_alert_exit_system_doing_timedshot", ""},
    {"ui_alert_have_running_application", ""},
    {"ui_alert_movie_maxinum_file", ""},
    {"ui_alert_no_camera", ""},
    {"ui_alert_not_connetion_wifi_device", ""},
    {"ui_alert_not_exist_resource_location", "%s"},
    {"ui_alert_not_preview_device", ""},
    {"ui_alert_ok", ""},
    {"ui_alert_savefile", "%s"},
    {"ui_alert_timed_shot_setting", ""},
    {"ui_alert_timelapse_no_picture", ""},
    {"ui_alert_wifi_port", ""},
    {"ui_dlg_about", ""},
    {"ui_dlg_setting", ""},
    {"ui_dlg_viewer", ""},
    {"ui_menu_make_movie", ""},
    {"ui_prompt_doing_preview", "%s"},
    {"ui_prompt_doing_recording", "%s"},
    {"ui_prompt_doing_taking_a_shot", "%s"},
    {"ui_prompt_doing_timed_shot", "%s%d%d"},
    {"ui_prompt_in_about_btn", ""},
    {"ui_prompt_in_exit_btn", ""},
    {"ui_prompt_in_setting_btn", ""},
    {"ui_prompt_in_start_recording_btn", "%s"},
    {"ui_prompt_in_start_timed_shot_btn", "%s"},
    {"ui_prompt_in_stop_recording_btn", ""},
    {"ui_prompt_in_stop_timed_shot_btn", ""},
    {"ui_prompt_in_take_a_photo_btn", "%s"},
    {"ui_property_btn_camera_defaults", ""},
    {"ui_setting_btn_apply", ""},
    {"ui_setting_btn_connect_wifi_device", ""},
    {"ui_setting_btn_disconnect_wifi_device", ""},
    {"ui_setting_btn_reset", ""},
    {"ui_setting_btn_undo", ""},
    {"ui_setting_btn_upload", ""},
    {"ui_setting_comobo_auto_creating_folder", ""},
    {"ui_setting_comobo_item_interpolation", ""},
    {"ui_setting_comobo_not_auto_creating_folder", ""},
    {"ui_setting_lab_creating_folder", ""},
    {"ui_setting_lab_device", ""},
    {"ui_setting_lab_device_setting", ""},
    {"ui_setting_lab_lanuage_setting", ""},
    {"ui_setting_lab_location_setting", ""},
    {"ui_setting_lab_maximum_movie_size_front_hint", ""},
    {"ui_setting_lab_maximum_movie_size_later_hint", ""},
    {"ui_setting_lab_movie_setting", ""},
    {"ui_setting_lab_movie_size", ""},
    {"ui_setting_lab_resolution", ""},
    {"ui_setting_lab_shots_front_hint", ""},
    {"ui_setting_lab_shots_later_hint", ""},
    {"ui_setting_lab_shots_range", "%d"},
    {"ui_setting_lab_timed_shot_settings", ""},
    {"ui_setting_lab_times_front_hint", ""},
    {"ui_setting_lab_times_range", "%d"},
    {"ui_setting_radio_shots_preday_taking", ""},
    {"ui_setting_radio_shots_prehour_taking", ""},
    {"ui_setting_radio_shots_preminute_taking", ""},
    {"ui_setting_radio_times_day_taking", ""},
    {"ui_setting_radio_times_hour_taking", ""},
    {"ui_setting_radio_times_minute_taking", ""},
    {"ui_timelapse_cancel", ""},
    {"ui_timelapse_estimating", ""},
    {"ui_timelapse_pictures", "%d%s"},
    {"ui_timelapse_progress", "%d%d"},
    {"ui_timelapse_rate", ""},
    {"ui_timelapse_skipped", "%d"},
    {"ui_timelapse_start", ""},
    {"ui_timelapse_time_left", "%s"},
    {"ui_view_btn_about", ""},
    {"ui_view_btn_exit_system", ""},
    {"ui_view_btn_full_screen", ""},
    {"ui_view_btn_more_resources", ""},
    {"ui_view_btn_rotate", ""},
    {"ui_view_btn_settings", ""},
    {"ui_view_btn_stop_recording", ""},
    {"ui_view_btn_stop_timed_shot", ""},
    {"ui_view_btn_take_a_shot", ""},
    {"ui_view_btn_take_recording", ""},
    {"ui_view_btn_take_timed_shot", ""},
    {"ui_view_lab_prompt", ""},
    {"ui_view_menu_flip_horizontal", ""},
    {"ui_view_menu_flip_vertical", ""},
    {"ui_view_menu_rotate_180", ""},
    {"ui_view_menu_rotate_90_byccw", ""},
    {"ui_view_menu_rotate_90_bycw", ""},
    {"ui_view_popup_btn_flip", ""},
};

class ProductDataTest : public SettingsTest {};

TEST_F(ProductDataTest, DefaultTreeLoadsCompletely) {
    const std::string text = ReadWholeFile(kResource + "DefaultSettings.reg");
    ASSERT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    ASSERT_EQ(registry::ImportRegText(text, true), ERROR_SUCCESS);

    CSettingParam loaded;
    ASSERT_TRUE(loaded.LoadDefaults(HKEY_CURRENT_USER));
    CSettingParam expected;
    expected.haswifi = 1;
    expected.languages = {{"English", "English", 0x0409}, {"zh-Hans", "简体中文", 0x0804}};
    expected.resourcespath = Documents();
    expected.DeriveMediaRoot();
    // The shipped tree holds exactly the built-in values, plus the wireless camera and
    // the language list.
    EXPECT_EQ(loaded, expected);
    EXPECT_FALSE(UsingTreeExists());
}

struct LanguageFile {
    std::map<std::string, std::string> entries;
    std::vector<std::string> duplicates;
    std::vector<std::string> unusedLines;
};

// Titles such as "/* Main viewer */" hold neither ";" nor "=" and are skipped by design.
LanguageFile ParseShipped(const std::string& identifier) {
    LanguageFile file;
    std::istringstream in(ReadWholeFile(kResource + identifier + ".lproj/Localizable.strings"));
    for (std::string line, key, value; std::getline(in, line);) {
        const bool title =
            line.rfind("/*", 0) == 0 && line.find_first_of(";=") == std::string::npos;
        if (line.empty() || title) continue;
        if (!ParseLanguageLine(line, key, value)) {
            file.unusedLines.push_back(line);
        } else if (!file.entries.emplace(key, value).second) {
            file.duplicates.push_back(key);
        }
    }
    return file;
}

std::string Placeholders(const std::string& text) {
    static const std::regex placeholder("%[sd]");
    std::string found;
    for (std::sregex_iterator it(text.begin(), text.end(), placeholder), end; it != end; ++it)
        found += it->str();
    return found;
}

TEST_F(ProductDataTest, LanguageFilesHoldEveryKeyWithItsPlaceholders) {
    for (const char* identifier : {"English", "zh-Hans"}) {
        SCOPED_TRACE(identifier);
        const LanguageFile file = ParseShipped(identifier);
        EXPECT_TRUE(file.unusedLines.empty()) << file.unusedLines.front();
        EXPECT_TRUE(file.duplicates.empty()) << file.duplicates.front();
        std::set<std::string> expectedKeys;
        for (const auto& [key, placeholders] : kKeys) {
            expectedKeys.insert(key);
            const auto found = file.entries.find(key);
            ASSERT_NE(found, file.entries.end()) << key;
            EXPECT_EQ(Placeholders(found->second), placeholders) << key;
        }
        for (const auto& [key, value] : file.entries) EXPECT_TRUE(expectedKeys.count(key)) << key;
    }
}

TEST_F(ProductDataTest, ShippedFilesServeTheLookups) {
    SetInstallFolder(std::string(SKELVANE_SOURCE_ROOT) + "/");
    ASSERT_EQ(registry::ImportRegText(ReadWholeFile(kResource + "DefaultSettings.reg"), true),
              ERROR_SUCCESS);
    SetLocale("zh_CN.UTF-8");
    EXPECT_EQ(GetLocalizedString("ui_alert_ok", "OK"), "确定");
    SetLocale("en_GB.UTF-8");  // 0x0809 is not listed: the first language
    EXPECT_EQ(GetLocalizedString("ui_alert_no_camera", "x"), "Error,No Camera\tis Detected");
    EXPECT_TRUE(boxes_->Texts().empty());
}

}  // namespace
