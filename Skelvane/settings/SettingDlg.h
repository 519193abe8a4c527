// The settings dialog: preview device and resolution, the wireless camera's address and
// port, timed-shot rate and length, movie size and limit, saving folder and folder mode,
// and language. It edits its own copy of the current settings; only Apply (after its
// checks) hands them on. Device switches and the wireless camera's Connect act at once.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <map>

#include "Skelvane/settings/SettingParam.h"

class QButtonGroup;
class ISettingDlgOwner;

// Control ids of the dialog.
enum SettingControl : int {
    kIdShotCount = 1005,
    kIdTimesCount = 1006,
    kIdTimedShotGroup = 1007,
    kIdShotsLaterHint = 1008,
    kIdTimesFrontHint = 1010,
    kIdShotsFrontHint = 1011,
    kIdDeviceList = 1012,
    kIdDeviceLabel = 1015,
    kIdApply = 1016,
    kIdUndo = 1017,
    kIdDefault = 1018,
    kIdMore = 1021,
    kIdSavingFolder = 1025,
    kIdMovieSizeMax = 1028,
    kIdChooseFolder = 1029,
    kIdMovieGroup = 1034,
    kIdLanguageGroup = 1035,
    kIdResolutionLabel = 1036,
    kIdMovieSizeLabel = 1038,
    kIdMovieSizeMaxLabel = 1039,
    kIdMovieSizeMaxHint = 1040,
    kIdLanguageList = 1043,
    kIdResolutionList = 1067,
    kIdMovieResolution = 1085,
    kIdLocationGroup = 1086,
    kIdDeviceGroup = 1087,
    kIdFolderMode = 1092,
    kIdFolderModeLabel = 1093,
    kIdShotsPerMinute = 1099,
    kIdShotsPerHour = 1100,
    kIdShotsPerDay = 1101,
    kIdTimesMinutes = 1102,
    kIdTimesHours = 1103,
    kIdTimesDays = 1104,
    kIdShotsRange = 1105,
    kIdTimesRange = 1106,
    kIdWifiAddress = 1116,
    kIdWifiColon = 1117,
    kIdWifiPort = 1118,
    kIdWifiConnect = 1119,
};

class CSettingDlg : public QDialog {
    Q_OBJECT
public:
    CSettingDlg(ISettingDlgOwner& owner, QWidget* parent = nullptr);

    // Modal to the parent window; Accepted after a successful Apply, else Rejected.
    int RunModal();
    // Lists the owner's devices (and the wireless camera when it is offered) and selects
    // the previewed one.
    void FillDeviceList();
    // Lists the previewed device's sizes and selects the current capture size.
    void FillResolutionList();

    QWidget* Control(int id) const;
    const CSettingParam& WorkingRecord() const { return workingRecord; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // One radio group with its count edit and range label.
    struct UnitGroup {
        QButtonGroup* radios = nullptr;
        int countEdit = 0;
        int rangeLabel = 0;
        const char* rangeKey = nullptr;
        std::array<ValueRange, kTimeUnitCount> Setting::*ranges = nullptr;
        int32_t count = 0;
        int32_t unit = -1;
    };

    void CreateControls();
    void ApplyTexts();
    void SetControlText(int id, const QString& text);
    void SelectUnit(UnitGroup& group, int32_t unit);
    void FillControls(const CSettingParam& record);
    void ReadControls(CSettingParam& record);
    // Writes the counts and units back into their edits and radio buttons.
    void WriteExchangedValues();
    bool CountValid(const UnitGroup& group, const CSettingParam& record) const;
    void ShowWifiControls(bool show);
    void EnableWifiGroup(bool enable);
    void SetConnectText();
    bool WifiPreviewed() const;
    bool IsWifiItem(int position) const;
    int PreviewedPosition() const;

    void OnApply();
    void OnDefault();
    void OnMore();
    void OnChooseFolder();
    void OnDeviceChosen(int position);
    void OnConnect();

    ISettingDlgOwner& owner_;
    std::map<int, QWidget*> controls_;
    CSettingParam workingRecord;
    UnitGroup shots_;
    UnitGroup times_;
};
