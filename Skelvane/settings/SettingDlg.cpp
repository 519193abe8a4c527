#include "Skelvane/settings/SettingDlg.h"

#include <sys/stat.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/TextFormat.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/LocalizedText.h"
#include "Skelvane/settings/SettingDlgOwner.h"
#include "Skelvane/widgets/DialogUnits.h"
#include "Skelvane/widgets/IPAddressCtrl.h"
#include "Skelvane/widgets/ModalRun.h"
#include "platform/sys/Sys.h"

namespace {

constexpr int kTemplateWidth = 471;
constexpr int kTemplateHeight = 319;
// A closed drop-down list; the template's heights include the opened list.
constexpr int kComboHeight = 14;
constexpr int kMovieSizeMin = 16;
constexpr int kMovieSizeMax = 4096;
// Fails the size check: what a size not written in plain decimal becomes.
constexpr int kMovieSizeRejected = 4097;
constexpr uint32_t kPortMax = 65535;

enum class Kind { Group, Label, RightLabel, Edit, List, Radio, Button, Address };

struct ControlInfo {
    int id;
    Kind kind;
    int x, y, width, height;  // dialog units
    const char* key;          // localization key of the text, or none
    const char* text;         // default text, or the fixed text when there is no key
    const char* purpose;      // accessible name of a control without a text of its own
};

// The template's controls. The range labels and the connect button get their texts from
// the unit procedure and the wireless camera's state.
const ControlInfo kControls[] = {
    {kIdDeviceGroup, Kind::Group, 12, 5, 353, 59, "ui_setting_lab_device_setting",
     "Devices Settting", nullptr},
    {kIdDeviceLabel, Kind::RightLabel, 17, 21, 51, 14, "ui_setting_lab_device", "Device:", nullptr},
    {kIdDeviceList, Kind::List, 73, 20, 141, 88, nullptr, nullptr, "Device"},
    {kIdResolutionLabel, Kind::RightLabel, 17, 43, 51, 14, "ui_setting_lab_resolution",
     "Resolution:", nullptr},
    {kIdResolutionList, Kind::List, 73, 42, 141, 147, nullptr, nullptr, "Resolution"},
    {kIdWifiAddress, Kind::Address, 220, 19, 100, 15, nullptr, nullptr, "Wireless camera address"},
    {kIdWifiColon, Kind::Label, 323, 21, 8, 8, nullptr, ":", nullptr},
    {kIdWifiPort, Kind::Edit, 331, 19, 27, 14, nullptr, nullptr, "Wireless camera port"},
    {kIdWifiConnect, Kind::Button, 264, 42, 56, 14, nullptr, nullptr, nullptr},
    {kIdTimedShotGroup, Kind::Group, 12, 68, 353, 61, "ui_setting_lab_timed_shot_settings",
     "Timed Shot Settings", nullptr},
    {kIdShotsFrontHint, Kind::RightLabel, 15, 90, 50, 13, "ui_setting_lab_shots_front_hint",
     "Take:", nullptr},
    {kIdShotCount, Kind::Edit, 73, 88, 39, 14, nullptr, nullptr, "Shot count"},
    {kIdShotsLaterHint, Kind::Label, 117, 89, 43, 8, "ui_setting_lab_shots_later_hint", "Shots per",
     nullptr},
    {kIdShotsPerMinute, Kind::Radio, 162, 89, 40, 10, "ui_setting_radio_shots_preminute_taking",
     "minute", nullptr},
    {kIdShotsPerHour, Kind::Radio, 204, 89, 35, 10, "ui_setting_radio_shots_prehour_taking", "hour",
     nullptr},
    {kIdShotsPerDay, Kind::Radio, 243, 89, 31, 10, "ui_setting_radio_shots_preday_taking", "day",
     nullptr},
    {kIdShotsRange, Kind::RightLabel, 282, 90, 44, 8, nullptr, nullptr, nullptr},
    {kIdTimesFrontHint, Kind::RightLabel, 13, 107, 52, 13, "ui_setting_lab_times_front_hint",
     "For:", nullptr},
    {kIdTimesCount, Kind::Edit, 73, 105, 39, 14, nullptr, nullptr, "Duration count"},
    {kIdTimesMinutes, Kind::Radio, 117, 107, 47, 10, "ui_setting_radio_times_minute_taking",
     "minute(s)", nullptr},
    {kIdTimesHours, Kind::Radio, 169, 107, 48, 10, "ui_setting_radio_times_hour_taking", "hour(s)",
     nullptr},
    {kIdTimesDays, Kind::Radio, 220, 107, 44, 10, "ui_setting_radio_times_day_taking", "day(s)",
     nullptr},
    {kIdTimesRange, Kind::RightLabel, 278, 107, 48, 8, nullptr, nullptr, nullptr},
    {kIdMovieGroup, Kind::Group, 11, 133, 353, 61, "ui_setting_lab_movie_setting", "Movie Setting",
     nullptr},
    {kIdMovieSizeLabel, Kind::RightLabel, 12, 150, 91, 17, "ui_setting_lab_movie_size",
     "Size:", nullptr},
    {kIdMovieResolution, Kind::List, 108, 148, 69, 71, nullptr, nullptr, "Movie size"},
    {kIdMovieSizeMaxLabel, Kind::RightLabel, 12, 171, 91, 17,
     "ui_setting_lab_maximum_movie_size_front_hint", "Maximum Movie file size", nullptr},
    {kIdMovieSizeMax, Kind::Edit, 108, 168, 69, 15, nullptr, nullptr, "Maximum movie file size"},
    {kIdMovieSizeMaxHint, Kind::Label, 185, 171, 149, 12,
     "ui_setting_lab_maximum_movie_size_later_hint", "MB(16-4096)", nullptr},
    {kIdLocationGroup, Kind::Group, 12, 197, 353, 67, "ui_setting_lab_location_setting",
     "Location Setting", nullptr},
    {kIdSavingFolder, Kind::Edit, 21, 211, 185, 17, nullptr, nullptr, "Saving folder"},
    {kIdChooseFolder, Kind::Button, 211, 211, 33, 17, nullptr, "...", "Choose saving folder"},
    {kIdFolderModeLabel, Kind::RightLabel, 13, 243, 56, 13, "ui_setting_lab_creating_folder",
     "文件夹:", nullptr},
    {kIdFolderMode, Kind::List, 82, 241, 161, 14, nullptr, nullptr, "Folder mode"},
    {kIdLanguageGroup, Kind::Group, 12, 267, 353, 46, "ui_setting_lab_lanuage_setting",
     "Language Setting", nullptr},
    {kIdLanguageList, Kind::List, 21, 286, 222, 106, nullptr, nullptr, "Language"},
    {kIdApply, Kind::Button, 379, 9, 88, 18, "ui_setting_btn_apply", "Apply", nullptr},
    {kIdUndo, Kind::Button, 379, 36, 88, 18, "ui_setting_btn_undo", "Undo", nullptr},
    {kIdMore, Kind::Button, 379, 63, 88, 18, "ui_setting_btn_upload", "More...", nullptr},
    {kIdDefault, Kind::Button, 379, 90, 88, 18, "ui_setting_btn_reset", "Default", nullptr},
};

// Shown while the wireless camera is the selected device.
constexpr int kWifiControls[] = {kIdWifiAddress, kIdWifiPort, kIdWifiColon, kIdWifiConnect};
// Enabled only while the wireless camera is not previewed.
constexpr int kWifiGroup[] = {kIdWifiAddress, kIdWifiPort,       kIdWifiColon,
                              kIdMore,        kIdResolutionList, kIdDeviceList};
// Disabled while a photo, a timed shot or a recording is under way.
constexpr int kBusyControls[] = {kIdSavingFolder,   kIdMovieSizeMax, kIdMovieResolution,
                                 kIdChooseFolder,   kIdDefault,      kIdDeviceList,
                                 kIdResolutionList, kIdShotCount,    kIdTimesCount};

// The standard decimal conversion of a 32-bit platform: leading white space and one sign,
// reading stops at the first non-digit, no digits give 0, overflow sticks at the limit.
int32_t TextToNumber(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const long long value = std::strtoll(bytes.constData(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

QString SizeText(int32_t width, int32_t height) {
    return QString("%1 X %2").arg(width).arg(height);
}

void SelectItem(QComboBox* list, int position) {
    list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

}  // namespace

CSettingDlg::CSettingDlg(ISettingDlgOwner& owner, QWidget* parent)
    : QDialog(parent), owner_(owner) {
    setFixedSize(DluX(kTemplateWidth), DluY(kTemplateHeight));
    setFont(TemplateFont(font()));
    CreateControls();
    shots_ = {new QButtonGroup(this), kIdShotCount, kIdShotsRange, "ui_setting_lab_shots_range",
              &Setting::shotsRanges};
    times_ = {new QButtonGroup(this), kIdTimesCount, kIdTimesRange, "ui_setting_lab_times_range",
              &Setting::timesRanges};
    for (int unit = kUnitMinute; unit <= kUnitDay; ++unit) {
        shots_.radios->addButton(static_cast<QRadioButton*>(Control(kIdShotsPerMinute + unit)),
                                 unit);
        times_.radios->addButton(static_cast<QRadioButton*>(Control(kIdTimesMinutes + unit)), unit);
    }
    connect(shots_.radios, &QButtonGroup::idClicked, this,
            [this](int unit) { SelectUnit(shots_, unit); });
    connect(times_.radios, &QButtonGroup::idClicked, this,
            [this](int unit) { SelectUnit(times_, unit); });
    const auto onClick = [this](int id, void (CSettingDlg::*handler)()) {
        connect(static_cast<QPushButton*>(Control(id)), &QPushButton::clicked, this, handler);
    };
    onClick(kIdApply, &CSettingDlg::OnApply);
    onClick(kIdUndo, &CSettingDlg::reject);
    onClick(kIdDefault, &CSettingDlg::OnDefault);
    onClick(kIdMore, &CSettingDlg::OnMore);
    onClick(kIdChooseFolder, &CSettingDlg::OnChooseFolder);
    onClick(kIdWifiConnect, &CSettingDlg::OnConnect);
    connect(static_cast<QComboBox*>(Control(kIdDeviceList)), &QComboBox::activated, this,
            &CSettingDlg::OnDeviceChosen);

    // Start-up, in the design's order.
    ShowWifiControls(false);
    const QString title = LocalizedText("ui_dlg_setting", "Settings");
    setWindowTitle(title);
    setAccessibleName(title);
    auto* folderMode = static_cast<QComboBox*>(Control(kIdFolderMode));
    folderMode->addItem(
        LocalizedText("ui_setting_comobo_not_auto_creating_folder", "不创建文件夹"));
    folderMode->addItem(LocalizedText("ui_setting_comobo_auto_creating_folder", "创建文件夹"));
    workingRecord = CSettingParamManage::Instance()->GetCurrent();
    auto* languages = static_cast<QComboBox*>(Control(kIdLanguageList));
    for (const LanguageEntry& language : workingRecord.languages)
        languages->addItem(QString::fromStdString(language.showname));
    FillControls(workingRecord);
    ApplyTexts();
    SetConnectText();
    FillDeviceList();
    FillResolutionList();
    if (owner_.CaptureBusy())
        for (int id : kBusyControls) Control(id)->setEnabled(false);
    // After the busy rule, so the lists stay usable unless the wireless camera runs.
    EnableWifiGroup(!WifiPreviewed());
}

void CSettingDlg::CreateControls() {
    for (const ControlInfo& info : kControls) {
        QWidget* control = nullptr;
        switch (info.kind) {
            case Kind::Group:
                control = new QGroupBox(this);
                break;
            case Kind::Label:
            case Kind::RightLabel: {
                auto* label = new QLabel(this);
                label->setAlignment(Qt::AlignTop | (info.kind == Kind::RightLabel ? Qt::AlignRight
                                                                                  : Qt::AlignLeft));
                control = label;
                break;
            }
            case Kind::Edit:
                control = new QLineEdit(this);
                break;
            case Kind::List:
                control = new QComboBox(this);
                break;
            case Kind::Radio:
                control = new QRadioButton(this);
                break;
            case Kind::Button: {
                // Enter presses no button of this dialog.
                auto* button = new QPushButton(this);
                button->setAutoDefault(false);
                control = button;
                break;
            }
            case Kind::Address:
                control = new CIPAddressCtrl(this);
                break;
        }
        const int height = info.kind == Kind::List ? kComboHeight : info.height;
        control->setGeometry(DialogRect(info.x, info.y, info.width, height));
        control->setObjectName(QString("control%1").arg(info.id));
        if (info.kind == Kind::Group) control->lower();
        controls_[info.id] = control;
        if (info.key == nullptr && info.text != nullptr) SetControlText(info.id, info.text);
        if (info.purpose != nullptr) control->setAccessibleName(info.purpose);
    }
    static_cast<QComboBox*>(Control(kIdMovieResolution))->addItems({"320X240", "640X480"});
}

QWidget* CSettingDlg::Control(int id) const {
    const auto found = controls_.find(id);
    return found != controls_.end() ? found->second : nullptr;
}

void CSettingDlg::SetControlText(int id, const QString& text) {
    QWidget* control = Control(id);
    if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
    if (auto* group = qobject_cast<QGroupBox*>(control)) group->setTitle(text);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(text);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->setText(text);
    // Edits are named by their purpose, not by what was typed into them.
    if (qobject_cast<QLineEdit*>(control) == nullptr) control->setAccessibleName(text);
}

void CSettingDlg::ApplyTexts() {
    for (const ControlInfo& info : kControls) {
        if (info.key == nullptr) continue;
        SetControlText(info.id, LocalizedText(info.key, info.text));
        // A radio button's text may need more room than the template's font did; the gap
        // before the next button of its row takes it.
        if (info.kind == Kind::Radio) {
            QWidget* radio = Control(info.id);
            radio->resize(std::max(DluX(info.width), radio->sizeHint().width()), radio->height());
        }
    }
}

bool CSettingDlg::event(QEvent* event) {
    if (static_cast<int>(event->type()) == UM_PREVIEW_STARTED) {
        FillResolutionList();
        return true;
    }
    return QDialog::event(event);
}

// Enter and Escape are no commands of this dialog: they neither apply nor close it.
void CSettingDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Enter:
        case Qt::Key_Return:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

int CSettingDlg::RunModal() {
    return RunWindowModal(*this);
}

// ---- Filling and reading the controls ----

void CSettingDlg::SelectUnit(UnitGroup& group, int32_t unit) {
    if (unit < kUnitMinute || unit > kUnitDay) return;
    const ValueRange& range = (workingRecord.*group.ranges)[static_cast<size_t>(unit)];
    group.count = range.defaultValue;
    SetControlText(group.countEdit, QString::number(group.count));
    const std::string label = FormatWithTextAndNumbers(
        GetLocalizedString(group.rangeKey, "(max.%d)"), "", {static_cast<int64_t>(range.maxvalue)});
    SetControlText(group.rangeLabel, QString::fromStdString(label));
    group.unit = unit;
}

void CSettingDlg::FillControls(const CSettingParam& record) {
    SelectUnit(shots_, record.shotstype);
    SelectUnit(times_, record.timestype);
    shots_.count = record.shotsvalue;
    times_.count = record.timesvalue;
    WriteExchangedValues();
    SelectItem(static_cast<QComboBox*>(Control(kIdMovieResolution)), record.movieresolution);
    SetControlText(kIdSavingFolder, QString::fromStdString(record.resourcespath));
    SelectItem(static_cast<QComboBox*>(Control(kIdFolderMode)), record.autocreatingfolder);
    SetControlText(kIdMovieSizeMax, QString::number(record.moviesizemax));
    // Not chosen: the entry of the user's language, else the first.
    SelectItem(static_cast<QComboBox*>(Control(kIdLanguageList)), record.GetLanguageIndex());
    static_cast<CIPAddressCtrl*>(Control(kIdWifiAddress))->SetAddress(record.wifideviceip);
    SetControlText(kIdWifiPort, QString::number(record.wifideviceport));
}

void CSettingDlg::WriteExchangedValues() {
    for (UnitGroup* group : {&shots_, &times_}) {
        SetControlText(group->countEdit, QString::number(group->count));
        if (QAbstractButton* radio = group->radios->button(group->unit)) radio->setChecked(true);
    }
}

void CSettingDlg::ReadControls(CSettingParam& record) {
    const auto text = [this](int id) { return static_cast<QLineEdit*>(Control(id))->text(); };
    const auto selection = [this](int id) {
        return static_cast<QComboBox*>(Control(id))->currentIndex();
    };
    for (UnitGroup* group : {&shots_, &times_}) {
        group->count = TextToNumber(text(group->countEdit));
        group->unit = group->radios->checkedId();
    }
    record.shotstype = shots_.unit;
    record.timestype = times_.unit;
    record.timesvalue = times_.count;
    record.shotsvalue = shots_.count;
    record.SetResourcesPath(text(kIdSavingFolder).toStdString());
    if (selection(kIdFolderMode) >= 0) record.autocreatingfolder = selection(kIdFolderMode);
    if (selection(kIdMovieResolution) >= 0) record.movieresolution = selection(kIdMovieResolution);
    const QString sizeText = text(kIdMovieSizeMax);
    record.moviesizemax = TextToNumber(sizeText);
    if (QString::number(record.moviesizemax) != sizeText) record.moviesizemax = kMovieSizeRejected;
    record.language = selection(kIdLanguageList);
    const auto* resolutions = static_cast<QComboBox*>(Control(kIdResolutionList));
    const int chosen = resolutions->currentIndex();
    if (chosen >= 0) {
        const uint32_t size = resolutions->itemData(chosen).toUInt();
        record.captureWidth = static_cast<int32_t>(size >> 16);
        record.captureHeight = static_cast<int32_t>(size & 0xFFFF);
        record.interpolation = chosen == resolutions->count() - 1;
    } else {
        record.captureWidth = 0;
        record.captureHeight = 0;
        record.interpolation = false;
    }
    record.wifideviceip = static_cast<CIPAddressCtrl*>(Control(kIdWifiAddress))->Address();
    record.wifideviceport = TextToNumber(text(kIdWifiPort));
}

bool CSettingDlg::CountValid(const UnitGroup& group, const CSettingParam& record) const {
    if (group.unit < kUnitMinute || group.unit > kUnitDay) return false;
    const ValueRange& range = (record.*group.ranges)[static_cast<size_t>(group.unit)];
    return group.count >= range.minvalue && group.count <= range.maxvalue &&
           static_cast<QLineEdit*>(Control(group.countEdit))->text() ==
               QString::number(group.count);
}

// ---- Buttons ----

void CSettingDlg::OnApply() {
    CSettingParam record = workingRecord;
    ReadControls(record);
    const CSettingParam defaults = CSettingParamManage::Instance()->GetDefault();

    const bool shotsValid = CountValid(shots_, record);
    const bool timesValid = CountValid(times_, record);
    if (!shotsValid || !timesValid) {
        sys::WarningBox(GetLocalizedString("ui_alert_timed_shot_setting",
                                           "Error of time setting to take timed shot"));
        if (!shotsValid) shots_.count = defaults.shotsvalue;
        if (!timesValid) times_.count = defaults.timesvalue;
        WriteExchangedValues();
        return;
    }
    if (!PathExists(record.resourcespath)) {
        sys::WarningBox(FormatWithText(
            GetLocalizedString("ui_alert_not_exist_resource_location",
                               "Don't exist location of photo %s in setting,please setting"),
            record.resourcespath));
        SetControlText(kIdSavingFolder, QString::fromStdString(defaults.resourcespath));
        return;
    }
    if (record.moviesizemax < kMovieSizeMin || record.moviesizemax > kMovieSizeMax) {
        sys::WarningBox(GetLocalizedString("ui_alert_movie_maxinum_file",
                                           "Error to set maximum file size of recording movie"));
        SetControlText(kIdMovieSizeMax, QString::number(defaults.moviesizemax));
        return;
    }
    // Compared unsigned, so a negative port fails too.
    if (static_cast<uint32_t>(record.wifideviceport) > kPortMax) {
        sys::WarningBox(
            GetLocalizedString("ui_alert_wifi_port", "Wifi port is incorrect;out of range."));
        SetControlText(kIdWifiPort, QString::number(defaults.wifideviceport));
        return;
    }
    CSettingParamManage::Instance()->Apply(record);
    CSavingLoactionManage::CreateMediaFolders();
    accept();
}

void CSettingDlg::OnDefault() {
    workingRecord = CSettingParamManage::Instance()->GetDefault();
    FillControls(workingRecord);
}

void CSettingDlg::OnMore() {
    hide();
    owner_.ShowDeviceProperties();
    show();
}

void CSettingDlg::OnChooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, "所选择路径:   ", static_cast<QLineEdit*>(Control(kIdSavingFolder))->text());
    if (!folder.isEmpty()) SetControlText(kIdSavingFolder, folder);
}

// ---- Devices ----

bool CSettingDlg::WifiPreviewed() const {
    return owner_.DeviceIdentity() == kWifiDeviceIdentity;
}

bool CSettingDlg::IsWifiItem(int position) const {
    const auto* devices = static_cast<QComboBox*>(Control(kIdDeviceList));
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    return position >= 0 && position == devices->count() - 1 &&
           devices->itemText(position).toStdString() == current.wifidevicename;
}

// The wireless camera stands after the last entry of the device table.
int CSettingDlg::PreviewedPosition() const {
    const int32_t index = IndexOfIdentity(owner_.Devices(), owner_.DeviceIdentity());
    return index == kWifiDeviceIndex ? static_cast<int>(owner_.Devices().size()) : index;
}

void CSettingDlg::ShowWifiControls(bool show) {
    for (int id : kWifiControls) Control(id)->setVisible(show);
}

void CSettingDlg::EnableWifiGroup(bool enable) {
    for (int id : kWifiGroup) Control(id)->setEnabled(enable);
}

void CSettingDlg::SetConnectText() {
    SetControlText(kIdWifiConnect,
                   WifiPreviewed()
                       ? LocalizedText("ui_setting_btn_disconnect_wifi_device", "Disconnect")
                       : LocalizedText("ui_setting_btn_connect_wifi_device", "Connect"));
}

void CSettingDlg::FillDeviceList() {
    auto* devices = static_cast<QComboBox*>(Control(kIdDeviceList));
    devices->clear();
    for (const auto& [index, device] : owner_.Devices())
        devices->addItem(QString::fromStdString(device.friendlyName));
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    if (current.haswifi != 0) devices->addItem(QString::fromStdString(current.wifidevicename));
    if (devices->count() == 0) return;
    SelectItem(devices, PreviewedPosition());
    if (devices->currentIndex() < 0) return;
    ShowWifiControls(IsWifiItem(devices->currentIndex()));
    SetConnectText();
}

void CSettingDlg::FillResolutionList() {
    auto* resolutions = static_cast<QComboBox*>(Control(kIdResolutionList));
    resolutions->clear();
    const ResolutionList& list = owner_.Resolutions();
    const QString interpolation =
        " (" + LocalizedText("ui_setting_comobo_item_interpolation", "interpolation") + ")";
    size_t position = 0;
    for (const auto& [key, entry] : list) {
        QString text = SizeText(entry.width, entry.height);
        if (++position == list.size() && !WifiPreviewed()) text += interpolation;
        resolutions->addItem(
            text, (static_cast<uint32_t>(entry.width) << 16) | static_cast<uint32_t>(entry.height));
    }
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    int chosen = 0;
    for (int i = 0; i < resolutions->count(); ++i) {
        const uint32_t size = resolutions->itemData(i).toUInt();
        if (static_cast<int32_t>(size >> 16) == current.captureWidth &&
            static_cast<int32_t>(size & 0xFFFF) == current.captureHeight)
            chosen = i;
    }
    SelectItem(resolutions, chosen);
}

void CSettingDlg::OnDeviceChosen(int position) {
    if (position < 0) return;
    const bool wifi = IsWifiItem(position);
    ShowWifiControls(wifi);
    SetConnectText();
    if (position == PreviewedPosition()) return;
    static_cast<QComboBox*>(Control(kIdResolutionList))->clear();
    // The wireless camera starts only with Connect.
    if (wifi) return;
    PreviewRequest request{position, 0, 0, false};
    if (position == FindRememberedDevice(owner_.Devices())) {
        const CaptureResolution stored = ReadCaptureResolution();
        request = {position, stored.width, stored.height, stored.interpolation};
    }
    owner_.StartPreview(request);
}

void CSettingDlg::OnConnect() {
    if (WifiPreviewed()) {
        owner_.TearDownPreview();
        owner_.ClearPreview();
        SetConnectText();
        EnableWifiGroup(true);
        return;
    }
    const uint32_t address = static_cast<CIPAddressCtrl*>(Control(kIdWifiAddress))->Address();
    const int32_t port = TextToNumber(static_cast<QLineEdit*>(Control(kIdWifiPort))->text());
    CSettingParamManage* settings = CSettingParamManage::Instance();
    CSettingParam current = settings->GetCurrent();
    // Stored before the camera starts: the module reads the address when it opens the stream.
    if (current.wifideviceip != address || current.wifideviceport != port) {
        current.wifideviceip = address;
        current.wifideviceport = port;
        settings->Apply(current);
    }
    PreviewRequest request{kWifiDeviceIndex, 0, 0, false};
    const auto* resolutions = static_cast<QComboBox*>(Control(kIdResolutionList));
    if (const int chosen = resolutions->currentIndex(); chosen >= 0) {
        const uint32_t size = resolutions->itemData(chosen).toUInt();
        request = {kWifiDeviceIndex, static_cast<int32_t>(size >> 16),
                   static_cast<int32_t>(size & 0xFFFF), chosen == resolutions->count() - 1};
    }
    EnableWifiGroup(!owner_.StartPreview(request));
    SetConnectText();
}
