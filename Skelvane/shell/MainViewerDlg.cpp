#include "Skelvane/shell/MainViewerDlg.h"

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <cerrno>
#include <cstdlib>

#include "Skelvane/browser/ResourceWindow.h"
#include "Skelvane/capture/DevicePropertiesDialog.h"
#include "Skelvane/capture/MovieRecording.h"
#include "Skelvane/capture/PreviewWindow.h"
#include "Skelvane/capture/RotateSampleImp.h"
#include "Skelvane/capture/SampleGrabberCB.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/TextFormat.h"
#include "Skelvane/capture/TimeLapseDialog.h"
#include "Skelvane/capture/TimeLapseMovie.h"
#include "Skelvane/capture/TimedShot.h"
#include "Skelvane/capture/WifiDeviceProxy.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/AboutDlg.h"
#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "Skelvane/widgets/CollapsibleSplitter.h"
#include "Skelvane/widgets/DialogUnits.h"
#include "Skelvane/widgets/DropDownButton.h"
#include "Skelvane/widgets/ImageButton.h"
#include "platform/sys/Sys.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_release(void* addr);
extern "C" void __tsan_acquire(void* addr);
#endif

namespace {

constexpr int kHintPeriodMs = 1000;
constexpr int kFullScreenButtonWidth = 32;
constexpr int kFullScreenButtonHeight = 28;
constexpr int kViewerGapTop = 2;
constexpr int kViewerGapBottom = 10;
constexpr int kHintGapLeft = 10;
constexpr int kHintGapRight = 1;
constexpr int kFlipWidening = 7;
constexpr int kFullScreenLeftOverhang = 16;
const QSize kFrameAllowance(16, 48);

constexpr int kTemplateWidth = 699;
constexpr int kTemplateHeight = 479;

QString Text(const char* key, const char* defaultText) {
    return QString::fromStdString(GetLocalizedString(key, defaultText));
}

struct ImageButtonInfo {
    int id;
    QRect units;  // x, y, width, height in dialog units
    const char* picture;
    const char* key;
    const char* defaultText;
};
// The six top buttons, the full-screen button and the hidden slot keeper. The record and
// timed-shot tooltips follow their state (UpdateRecordTip, UpdateTimedShotTip).
const ImageButtonInfo kImageButtons[] = {
    {kIdSettings, {1, 2, 37, 24}, "Setting.png", "ui_view_btn_settings", "Settings"},
    {kIdTakePhoto, {39, 2, 37, 24}, "TakeAShot.png", "ui_view_btn_take_a_shot", "Take a Photo"},
    {kIdTimedShot, {77, 2, 37, 24}, "TimedShot.png", nullptr, nullptr},
    {kIdRecord, {115, 2, 37, 24}, "RecordingMovie.png", nullptr, nullptr},
    {kIdAbout, {153, 2, 37, 24}, "Help.png", "ui_view_btn_about", "About"},
    {kIdExit, {191, 2, 37, 24}, "Exit.png", "ui_view_btn_exit_system", "Exit System"},
    {kIdFullScreen, {663, 462, 32, 15}, "FullScreen.png", "ui_view_btn_full_screen", "full screen"},
    {kIdRotateSlot, {545, 462, 23, 15}, nullptr, "ui_view_btn_rotate", "Rotate"},
};

struct FlipMenuItem {
    int id;
    const char* key;
    const char* defaultText;
    const char* picture;
    int32_t operation;
};
const FlipMenuItem kFlipMenu[] = {
    {kIdRotate90Cw, "ui_view_menu_rotate_90_bycw", "Rotate 90 CW", "right90.png", kRotate90Cw},
    {kIdRotate90Ccw, "ui_view_menu_rotate_90_byccw", "Rotate 90 CCW", "left90.png", kRotate90Ccw},
    {kIdRotate180, "ui_view_menu_rotate_180", "Rotate 180", "180.png", kRotate180},
    {kIdFlipVertical, "ui_view_menu_flip_vertical", "Flip Vertical", "verz.png", kFlipVertical},
    {kIdFlipHorizontal, "ui_view_menu_flip_horizontal", "Flip Horizontal", "horz.png",
     kFlipHorizontal},
};

// The five buttons that follow the activity, in their order.
constexpr int kCommandButtons[] = {kIdTakePhoto, kIdTimedShot, kIdRecord, kIdSettings, kIdAbout};
// What ShowControlBar shows and hides, in its order (the flip button last).
constexpr int kControlBar[] = {kIdAbout,    kIdSettings,      kIdTakePhoto,  kIdTimedShot,
                               kIdRecord,   kIdExit,          kIdFullScreen, kIdHintLabel,
                               kIdHintLine, kIdHintSeparator, kIdFlipButton};

QString PictureFolder() {
    return QString::fromStdString(GetInstallFolder()) + "Resource/Image/";
}

QString SizeText(int32_t width, int32_t height) {
    return QString("%1 X %2").arg(width).arg(height);
}

bool FolderExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

QIcon ApplicationIcon() {
    QIcon icon;
    const QDir themes(QString::fromStdString(GetInstallFolder()) + "Resource/icons/hicolor");
    for (const QString& size : themes.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (const QString file = themes.filePath(size + "/apps/skelvane.png"); QFile::exists(file))
            icon.addFile(file);
    return icon;
}

}  // namespace

CMainViewerDlg::CMainViewerDlg(const QString& markName, QWidget* parent) : QDialog(parent) {
    setProperty(markName.toUtf8().constData(), true);
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setMouseTracking(true);
    previewGrabberCallback.owner.store(this, std::memory_order_relaxed);
    stillGrabberCallback.owner.store(this, std::memory_order_relaxed);
    if (!captureVideo.saverThread.Start(
            [this] { TimedShotSaverProc(*this, captureVideo.saverThread.RunFlag()); })) {
        sys::WarningBox("Lumivor run failure");
        std::_Exit(0);
    }
    CCaptureVideo::Sinks sinks;
    sinks.resolutions = &resolutionList;
    sinks.previewCallback = &previewGrabberCallback;
    sinks.stillCallback = &stillGrabberCallback;
    sinks.showPropertyPages = [this](IBaseFilter* device, const CAUUID& pages) {
        CDevicePropertiesDialog::ShowPages(device, pages, this);
    };
    sinks.ownerClientSize = [this](long& width, long& height) {
        if (livePane == nullptr) return;
        width = livePane->PreviewHost()->width();
        height = livePane->PreviewHost()->height();
    };
    sinks.controlChannel = CWifiDeviceProxy::Instance();
    captureVideo.SetSinks(sinks);

    // The window's initialisation, in the design's order. The window manager offers no
    // menu of the window to add to, so the about item is in the window's context menu.
    setWindowIcon(ApplicationIcon());
    CreateControls();
    CreateFlipButton();
    CSavingLoactionManage::Instance()->CreateMediaFolders();
    CreatePanes();
    ApplyTexts();
    captureVideo.EnumerateDevices(deviceTable);
    RegisterDeviceNotices();
    // UM_CHOOSE_DEVICE is posted when the window is first shown (showEvent).
    // The template's size, made smaller on a screen that cannot hold it with the window
    // manager's title bar and frame (not known before the window is shown).
    const QSize templateSize(DluX(kTemplateWidth), DluY(kTemplateHeight));
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect available = screen->availableGeometry();
        resize(templateSize.boundedTo(available.size() - kFrameAllowance));
        move(available.center() - rect().center());
    } else {
        resize(templateSize);
    }
    LayoutControls(width(), height());
    hintTimer.setInterval(kHintPeriodMs);
    connect(&hintTimer, &QTimer::timeout, this,
            [this] { RefreshHint(mapFromGlobal(QCursor::pos()), false); });
    hintTimer.start();
    CWifiDeviceProxy::Instance()->owner.store(this, std::memory_order_relaxed);
    qApp->installEventFilter(this);
}

CMainViewerDlg::~CMainViewerDlg() {
    qApp->removeEventFilter(this);
    deviceMonitor.Stop();
    captureVideo.TearDown();
    // The channel outlives the window; its thread was stopped by the teardown.
    ICaptureOwner* self = this;
    CWifiDeviceProxy::Instance()->owner.compare_exchange_strong(self, nullptr,
                                                                std::memory_order_relaxed);
    // The saving thread posts to this window: it ends before the window does.
    captureVideo.saverThread.Stop(WakeTimedShotSaver);
    previewGrabberCallback.owner.store(nullptr, std::memory_order_relaxed);
    stillGrabberCallback.owner.store(nullptr, std::memory_order_relaxed);
}

void CMainViewerDlg::CreateControls() {
    for (const ImageButtonInfo& info : kImageButtons) {
        auto* button = new CXPStyleButtonST(this);
        button->setGeometry(
            DialogRect(info.units.x(), info.units.y(), info.units.width(), info.units.height()));
        button->setObjectName(QString("button%1").arg(info.id));
        if (info.picture != nullptr) button->SetPicture(PictureFolder() + info.picture);
        button->SetHoverReport([this](const QPoint& point) { RefreshHint(point, true); });
        connect(button, &QPushButton::clicked, this, [this, id = info.id] { OnCommand(id); });
        controls_[info.id] = button;
    }
    controls_[kIdRotateSlot]->hide();

    auto* viewerArea = new QWidget(this);
    viewerArea->setGeometry(DialogRect(0, 37, 697, 421));
    viewerArea->hide();
    controls_[kIdViewerArea] = viewerArea;

    auto* hintLabel = new QLabel(this);
    hintLabel->setGeometry(DialogRect(3, 464, 36, 12));
    controls_[kIdHintLabel] = hintLabel;

    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setGeometry(DialogRect(41, 463, 1, 16));
    controls_[kIdHintSeparator] = separator;

    hintLine = new QLabel(this);
    hintLine->setObjectName("hintLine");
    hintLine->setGeometry(DialogRect(48, 464, 501, 12));
    hintLine->setTextFormat(Qt::PlainText);
    hintLabel->setBuddy(hintLine);
    controls_[kIdHintLine] = hintLine;

    auto* fontSource = new QPushButton(this);
    fontSource->setGeometry(DialogRect(0, 26, 30, 14));
    fontSource->hide();
    controls_[kIdFontSource] = fontSource;

    auto* flipSlot = new QLineEdit(this);
    flipSlot->setGeometry(DialogRect(571, 463, 46, 15));
    flipSlot->hide();
    controls_[kIdFlipSlot] = flipSlot;

    auto* aboutItem = new QAction("关于 Lumivor(&A)...", this);
    connect(aboutItem, &QAction::triggered, this, [this] { OnCommand(kIdAboutMenuItem); });
    addAction(aboutItem);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CMainViewerDlg::CreateFlipButton() {
    const QString rotateFolder = PictureFolder() + "Rotate/";
    flipButton = new CCoolBtn(this);
    flipButton->setObjectName(QString("button%1").arg(kIdFlipButton));
    flipButton->SetCaption(Text("ui_view_popup_btn_flip", "Flip"));
    flipButton->setGeometry(
        controls_[kIdFlipSlot]->geometry().adjusted(-kFlipWidening, 0, kFlipWidening, 0));
    flipButton->SetPicture(rotateFolder + "rotate.png");
    for (const FlipMenuItem& item : kFlipMenu)
        flipButton->AddMenuItem(item.id, Text(item.key, item.defaultText),
                                rotateFolder + item.picture);
    flipButton->SetCommandHandler([this](int id) { OnCommand(id); });
    controls_[kIdFlipButton] = flipButton;
}

void CMainViewerDlg::CreatePanes() {
    const QRect area = controls_[kIdViewerArea]->geometry();
    const int columnWidth = area.width() / 4;
    mainSplitter = new CXSplitterWnd(this);
    mainSplitter->setObjectName("mainSplitter");
    columnSplitter = new QSplitter(Qt::Vertical, mainSplitter);
    columnSplitter->setObjectName("columnSplitter");
    columnSplitter->setChildrenCollapsible(true);
    auto* folders = new CResourceWindow(columnSplitter, [this] { return CaptureBusy(); });
    folders->MoreResourcesButton()->setFont(controls_[kIdFontSource]->font());
    mediaListPane = new CResourceBrowserView(columnSplitter);
    livePane = new CPreviewWindow(mainSplitter);
    livePane->setObjectName("livePane");
    livePane->setAccessibleName("Live picture");
    folders->SetBrowserView(mediaListPane);
    folders->SetMakeMovieHandler([this](const std::string& folder) {
        MakeMovie(folder, [folder] { return TimeLapsePictures(folder); });
    });
    recentPane.store(folders, std::memory_order_relaxed);
    // The live picture takes every change of the window's width; the column keeps its own.
    mainSplitter->setStretchFactor(0, 0);
    mainSplitter->setStretchFactor(1, 1);
    mainSplitter->setGeometry(area);
    mainSplitter->setSizes({columnWidth, area.width() - columnWidth});
    columnSplitter->setSizes({area.height() / 3, area.height() - area.height() / 3});
}

void CMainViewerDlg::RegisterDeviceNotices() {
    deviceMonitor.Start([this](v4l2::DeviceMonitor::Action, const std::string&) {
        if (devicesChangePending_.exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                devicesChangePending_.store(false);
                OnDevicesChanged();
            },
            Qt::QueuedConnection);
    });
}

QWidget* CMainViewerDlg::Control(int id) const {
    const auto found = controls_.find(id);
    return found != controls_.end() ? found->second : nullptr;
}

CXPStyleButtonST* CMainViewerDlg::ImageButton(int id) const {
    return qobject_cast<CXPStyleButtonST*>(Control(id));
}

// ---- Previewing ----

bool CMainViewerDlg::StartPreview(PreviewRequest request) {
    const int32_t index = request.deviceIndex;
    if (index < 0 ||
        (index != kWifiDeviceIndex && index >= static_cast<int32_t>(deviceTable.size())) ||
        livePane == nullptr)
        return false;
    livePane->RefitHost();
    captureVideo.TearDown();
    RotateSampleImp::Instance()->ClearOperations();
    if (FAILED(captureVideo.BuildGraph(index, livePane->HostHandle(), request))) {
        captureVideo.TearDown();
        update();
        ClearPreview();
        return false;
    }
    deviceIdentity = IdentityOfIndex(deviceTable, index);
    CSettingParamManage* settings = CSettingParamManage::Instance();
    const CSettingParam current = settings->GetCurrent();
    if (current.captureWidth != request.width || current.captureHeight != request.height) {
        settings->SetCurrentCapture(request.width, request.height, request.interpolation);
        livePane->RefitHost();
        captureVideo.FitVideoWindow();
    }
    if (settingDialog)
        QCoreApplication::postEvent(settingDialog,
                                    new QEvent(static_cast<QEvent::Type>(UM_PREVIEW_STARTED)));
    return true;
}

void CMainViewerDlg::ClearPreview() {
    deviceIdentity.clear();
    resolutionList.clear();
}

void CMainViewerDlg::ChooseDevice() {
    int32_t index = FindRememberedDevice(deviceTable);
    if (index >= 0) {
        const CaptureResolution stored = ReadCaptureResolution();
        StartPreview({index, stored.width, stored.height, stored.interpolation});
        return;
    }
    index = FindVendorDevice(deviceTable);
    if (index == -1) return;
    StartPreview({index, 0, 0, false});
}

bool CMainViewerDlg::SwitchCaptureSize(const CaptureResolution& size) {
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    if (current.captureWidth == size.width && current.captureHeight == size.height) return true;
    return StartPreview({IndexOfIdentity(deviceTable, deviceIdentity), size.width, size.height,
                         size.interpolation});
}

bool CMainViewerDlg::CaptureSizeChanged() const {
    if (deviceIdentity.empty() || deviceIdentity == kWifiDeviceIdentity) return false;
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    const CSettingParam previous = CSettingParamManage::Instance()->GetPrevious();
    return current.captureWidth != previous.captureWidth ||
           current.captureHeight != previous.captureHeight;
}

void CMainViewerDlg::StopAll() {
    if (takePhoto.load(std::memory_order_relaxed) != 0) {
        takePhoto.store(0, std::memory_order_relaxed);
        EnableCommandButtons(true);
    }
    if (timedShotRunning.load(std::memory_order_relaxed) != 0) StopTimedShot();
    if (recording.load(std::memory_order_relaxed) != 0) StopRecording();
    captureVideo.TearDown();
}

void CMainViewerDlg::StopTimedShot() {
    timedShotRunning.store(0, std::memory_order_relaxed);
    UpdateTimedShotTip();
    EnableCommandButtons(true);
}

void CMainViewerDlg::StopRecording() {
    recording.store(0, std::memory_order_relaxed);
    StopMovieFile();
    UpdateRecordTip();
    SwitchCaptureSize(savedCapture);
    EnableCommandButtons(true);
}

void CMainViewerDlg::EnableCommandButtons(bool enable, QWidget* keep) {
    for (int id : kCommandButtons)
        if (QWidget* button = Control(id)) button->setEnabled(enable);
    if (!enable && keep != nullptr) keep->setEnabled(true);
}

bool CMainViewerDlg::CheckMediaFolder() {
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    if (FolderExists(current.GetResourcesPath())) {
        CSavingLoactionManage::Instance()->CreateMediaFolders();
        return true;
    }
    sys::WarningBox(
        FormatWithText(GetLocalizedString("ui_alert_not_exist_resource_location",
                                          "Don't exist location of  %s in setting,please setting"),
                       current.GetMoviesFolder()));
    return false;
}

void CMainViewerDlg::WarnNoCamera() {
    if (deviceTable.empty() && !fullScreen)
        sys::WarningBox(GetLocalizedString("ui_alert_no_camera", "Error,No Camera\tis Detected"));
}

std::string CMainViewerDlg::NoPreviewText() const {
    if (!deviceTable.empty())
        return GetLocalizedString("ui_alert_not_preview_device",
                                  "Couldn't preview this device,because this device may been "
                                  "using by other applicaiton");
    return GetLocalizedString("ui_alert_no_camera", "Error,No Camera\tis Detected");
}

void CMainViewerDlg::WarnNoPreview() {
    if (deviceTable.empty()) return WarnNoCamera();
    sys::WarningBox(NoPreviewText());
}

void CMainViewerDlg::OnDevicesChanged() {
    const size_t before = deviceTable.size();
    captureVideo.EnumerateDevices(deviceTable);
    if (settingDialog) settingDialog->FillDeviceList();
    if (!deviceTable.empty()) {
        if (before == 0 || IndexOfIdentity(deviceTable, deviceIdentity) < 0) {
            StopAll();
            ChooseDevice();
        }
        return;
    }
    StopAll();
    WarnNoCamera();
    ClearPreview();
    update();
}

void CMainViewerDlg::OnChooseDevice() {
    if (!deviceTable.empty()) return ChooseDevice();
    StopAll();
    WarnNoCamera();
    ClearPreview();
    update();
}

// ---- Commands ----

void CMainViewerDlg::OnCommand(int id) {
    switch (id) {
        case kIdTakePhoto:
            return TakePhotoCommand();
        case kIdTimedShot:
            return TimedShotCommand();
        case kIdRecord:
            return RecordCommand();
        case kIdSettings:
            return SettingsCommand();
        case kIdAbout:
        case kIdAboutMenuItem:
            return OpenAbout();
        case kIdExit:
            ConfirmExit();
            return;
        case kIdFullScreen:
            return EnterFullScreen();
        default:
            return FlipMenuCommand(id);
    }
}

void CMainViewerDlg::TakePhotoCommand() {
    if (!CheckMediaFolder()) return;
    if (!IsPreviewing()) return WarnNoPreview();
    EnableCommandButtons(false);
    ExpandMediaColumn();
    takePhoto.store(1, std::memory_order_relaxed);
}

void CMainViewerDlg::TimedShotCommand() {
    if (timedShotRunning.load(std::memory_order_relaxed) != 0) {
        StopTimedShot();
        return OfferRunMovie();
    }
    if (!CheckMediaFolder()) return;
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    if (!current.IsTimedShotValid()) {
        sys::WarningBox(GetLocalizedString("ui_alert_timed_shot_setting",
                                           "Error of time setting to take timed shot"));
        return;
    }
    if (!IsPreviewing()) return WarnNoPreview();
    if (!CSavingLoactionManage::Instance()->BeginTimedShotRun(current.GetTimedShotsFolder()))
        return;
    shotPeriodMs.store(TimedShotPeriodMs(current.GetShotsPerDay()), std::memory_order_relaxed);
    timedShotHours.store(TimedShotHoursOf(current.GetDurationMinutes()), std::memory_order_relaxed);
    EnableCommandButtons(false, Control(kIdTimedShot));
    ExpandMediaColumn();
    StartTimedShotClock(previewGrabberCallback.timedShot);
    timedShotRunning.store(1, std::memory_order_relaxed);
    UpdateTimedShotTip();
}

void CMainViewerDlg::RecordCommand() {
    if (recording.load(std::memory_order_relaxed) != 0) return StopRecording();
    if (!CheckMediaFolder()) return;
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    std::string movie;
    if (!CSavingLoactionManage::Instance()->NextMovieFile(current.GetMoviesFolder(), movie)) return;
    if (!IsPreviewing()) return WarnNoPreview();
    const MovieFrameSize size = current.GetMovieFrameSize();
    savedCapture = {current.captureWidth, current.captureHeight, current.interpolation};
    if (!SwitchCaptureSize({size.width, size.height, false})) return;
    ExpandMediaColumn();
    StartMovieFile(movie);
    recording.store(1, std::memory_order_relaxed);
    UpdateRecordTip();
    EnableCommandButtons(false, Control(kIdRecord));
}

void CMainViewerDlg::SettingsCommand() {
    if (OpenSettings()) SettingsAccepted();
}

void CMainViewerDlg::SettingsAccepted() {
    ApplyTexts();
    if (CResourceWindow* folders = RecentPane()) folders->RefreshTree();
    if (CaptureSizeChanged()) {
        const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
        StartPreview({IndexOfIdentity(deviceTable, deviceIdentity), current.captureWidth,
                      current.captureHeight, current.interpolation});
    }
    if (IsPreviewing()) SaveDeviceChoice(deviceIdentity);
}

bool CMainViewerDlg::OpenSettings() {
    CSettingDlg dialog(*this, this);
    settingDialog = &dialog;
    const int result = dialog.RunModal();
    settingDialog = nullptr;
    return result == QDialog::Accepted;
}

void CMainViewerDlg::OpenAbout() {
    CAboutDlg dialog(this);
    dialog.RunModal();
}

bool CMainViewerDlg::CaptureBusy() const {
    return recording.load(std::memory_order_relaxed) != 0 ||
           timedShotRunning.load(std::memory_order_relaxed) != 0 ||
           takePhoto.load(std::memory_order_relaxed) != 0;
}

void CMainViewerDlg::MakeMovie(const std::string& folder,
                               std::function<std::vector<std::string>()> listPictures) {
    struct stat info {};
    // The folder's box, as for a media folder that cannot be made. Asked before the media
    // folders are checked, which would make a kind folder that went again, empty.
    if (::stat(folder.c_str(), &info) != 0) {
        sys::WarningBox(folder + sys::ErrnoText(errno));
        return;
    }
    if (!CheckMediaFolder()) return;
    if (listPictures().empty()) {
        sys::WarningBox(NoPictureText());
        return;
    }
    // Modal to the window without holding up the caller: a run's end offers it from the
    // stop command and the window event alike.
    auto* dialog =
        new CTimeLapseDialog(this, folder, std::move(listPictures),
                             CSettingParamManage::Instance()->GetCurrent().GetMoviesFolder(),
                             [this](const std::string& movie) { RevealFile(movie); });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void CMainViewerDlg::OfferRunMovie() {
    const std::string timedShots =
        CSettingParamManage::Instance()->GetCurrent().GetTimedShotsFolder();
    auto listPictures = [timedShots] {
        return CSavingLoactionManage::Instance()->TimedShotRunPictures(timedShots);
    };
    const std::vector<std::string> pictures = listPictures();
    if (pictures.empty()) return;
    MakeMovie(pictures.front().substr(0, pictures.front().rfind('/')), listPictures);
}

void CMainViewerDlg::StartMovieFile(const std::string& path) {
    if (CMovieRecording::Instance()->HasWriter()) StopMovieFile();
    CMovieRecording::Instance()->OpenWriter(path);
}

// The file is closed (its rate corrected) and then announced to the media browser.
void CMainViewerDlg::StopMovieFile() {
    const std::string path = CMovieRecording::Instance()->CloseWriter();
    if (!path.empty()) RevealFile(path);
}

void CMainViewerDlg::FlipMenuCommand(int id) {
    for (const FlipMenuItem& item : kFlipMenu) {
        if (item.id != id) continue;
        RotateSampleImp::Instance()->AddOperation(item.operation);
        if (markedMenuItem != 0) flipButton->SetMenuItemChecked(markedMenuItem, false);
        flipButton->SetMenuItemChecked(id, true);
        markedMenuItem = id;
        return;
    }
}

bool CMainViewerDlg::ConfirmExit() {
    const char* key =
        timedShotRunning.load(std::memory_order_relaxed) ? "ui_alert_exit_system_doing_timedshot"
        : recording.load(std::memory_order_relaxed)      ? "ui_alert_exit_system_doing_recording"
                                                         : "ui_alert_exit_system";
    const std::string question = GetLocalizedString(key, "Are you sure exiting system?");
    const std::string caption = GetLocalizedString("ui_view_btn_exit_system", "Exit");
    if (sys::MessageBox(question, caption, sys::MB_OKCANCEL | sys::MB_ICONQUESTION) != sys::IDOK)
        return false;
    hintTimer.stop();
    StopAll();
    closing_ = true;
    done(QDialog::Accepted);
    return true;
}

int CMainViewerDlg::RunModal() {
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    loop.exec();
    return result();
}

// ---- Window events ----

namespace {
// Qt's event queue hands a posted event to the UI thread under its own lock, which
// ThreadSanitizer cannot see inside the uninstrumented library; these two tell it.
void MarkHandedOver([[maybe_unused]] QEvent* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#endif
}

void MarkTakenOver([[maybe_unused]] QEvent* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#endif
}
}  // namespace

void CMainViewerDlg::PostEvent(int eventNumber) {
    auto* event = new QEvent(static_cast<QEvent::Type>(eventNumber));
    MarkHandedOver(event);
    QCoreApplication::postEvent(this, event);
}

void CMainViewerDlg::RevealFile(const std::string& path) {
    if (CResourceWindow* folders = recentPane.load(std::memory_order_relaxed))
        folders->RevealFile(path);
}

bool CMainViewerDlg::event(QEvent* event) {
    MarkTakenOver(event);
    switch (static_cast<int>(event->type())) {
        case UM_PHOTO_SAVED:
            takePhoto.store(0, std::memory_order_relaxed);
            EnableCommandButtons(true);
            return true;
        case UM_TIMED_SHOT_END:
            // The callback asks on every frame until the run ends: later asks find it over.
            if (timedShotRunning.load(std::memory_order_relaxed) != 0) {
                StopTimedShot();
                OfferRunMovie();
            }
            return true;
        case UM_STOP_RECORDING:
            if (recording.load(std::memory_order_relaxed) != 0) StopRecording();
            return true;
        case UM_CHOOSE_DEVICE:
            OnChooseDevice();
            return true;
        case UM_FIT_VIDEO:
            if (captureVideo.HasVideoWindow()) captureVideo.FitVideoWindow();
            return true;
        default:
            return QDialog::event(event);
    }
}

void CMainViewerDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The first device is chosen once the window is on screen, so a warning about it
    // comes after the window.
    if (!chooseDevicePosted_) {
        chooseDevicePosted_ = true;
        PostEvent(UM_CHOOSE_DEVICE);
    }
}

// Seen before any widget of the window handles it: Escape and a left double-click leave
// full screen, and then go their usual way.
bool CMainViewerDlg::eventFilter(QObject* watched, QEvent* event) {
    MarkTakenOver(event);
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonDblClick) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) return false;
    if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        LeaveFullScreen();
    if (type == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        LeaveFullScreen();
    return false;
}

// Enter presses no default button and Escape does not end the window.
void CMainViewerDlg::keyPressEvent(QKeyEvent* event) {
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

void CMainViewerDlg::reject() {}

void CMainViewerDlg::closeEvent(QCloseEvent* event) {
    if (closing_ || ConfirmExit()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void CMainViewerDlg::mouseMoveEvent(QMouseEvent* event) {
    RefreshHint(event->position().toPoint(), true);
    QDialog::mouseMoveEvent(event);
}

// ---- Layout ----

void CMainViewerDlg::ApplyTexts() {
    for (const ImageButtonInfo& info : kImageButtons)
        if (info.key != nullptr)
            ImageButton(info.id)->SetTooltipText(Text(info.key, info.defaultText));
    UpdateRecordTip();
    UpdateTimedShotTip();
    if (CResourceWindow* folders = RecentPane())
        folders->SetMoreResourcesText(Text("ui_view_btn_more_resources", "更多..."));
    auto* hintLabel = static_cast<QLabel*>(Control(kIdHintLabel));
    hintLabel->setText(Text("ui_view_lab_prompt", "Hint:"));
    hintLabel->setAccessibleName(hintLabel->text());
    const QString title = Text("ui_dlg_viewer", "Default View");
    setWindowTitle(title);
    setAccessibleName(title);
    flipButton->SetCaption(Text("ui_view_popup_btn_flip", "Flip"));
    for (const FlipMenuItem& item : kFlipMenu)
        flipButton->SetMenuItemText(item.id, Text(item.key, item.defaultText));
}

void CMainViewerDlg::UpdateRecordTip() {
    ImageButton(kIdRecord)->SetTooltipText(
        recording.load(std::memory_order_relaxed) != 0
            ? Text("ui_view_btn_stop_recording", "Stop Recording")
            : Text("ui_view_btn_take_recording", "Start Recording"));
}

void CMainViewerDlg::UpdateTimedShotTip() {
    ImageButton(kIdTimedShot)
        ->SetTooltipText(timedShotRunning.load(std::memory_order_relaxed) != 0
                             ? Text("ui_view_btn_stop_timed_shot", "Stop Timed Shot")
                             : Text("ui_view_btn_take_timed_shot", "Start Timed Shot"));
}

void CMainViewerDlg::LayoutControls(int width, int height) {
    for (int id : {kIdHintLabel, kIdHintSeparator})
        if (QWidget* control = Control(id)) control->move(control->x(), height - control->height());
    if (QWidget* fullScreenButton = Control(kIdFullScreen))
        fullScreenButton->setGeometry(width - kFullScreenButtonWidth,
                                      height - kFullScreenButtonHeight, kFullScreenButtonWidth,
                                      kFullScreenButtonHeight);
    // Right to left from the full-screen button: the flip button, then the two slots.
    QWidget* placed = Control(kIdFullScreen);
    for (int id : {kIdFlipButton, kIdFlipSlot, kIdRotateSlot}) {
        QWidget* control = Control(id);
        if (control == nullptr) continue;
        const int right = placed != nullptr ? placed->x() : width;
        control->move(right - control->width(), height - control->height());
        placed = control;
    }
    QWidget* separator = Control(kIdHintSeparator);
    QWidget* rotateSlot = Control(kIdRotateSlot);
    if (hintLine != nullptr && separator != nullptr && rotateSlot != nullptr) {
        const int left = separator->x() + separator->width() + kHintGapLeft;
        const int right = rotateSlot->x() - kHintGapRight;
        hintLine->setGeometry(left, height - hintLine->height(), std::max(0, right - left),
                              hintLine->height());
    }
    QWidget* settings = Control(kIdSettings);
    QWidget* hintLabel = Control(kIdHintLabel);
    if (settings != nullptr && hintLabel != nullptr) {
        const int top = settings->y() + settings->height() + kViewerGapTop;
        const int bottom = hintLabel->y() - kViewerGapBottom;
        const QRect area(0, top, width, std::max(0, bottom - top));
        Control(kIdViewerArea)->setGeometry(area);
        if (mainSplitter != nullptr) mainSplitter->setGeometry(area);
    }
}

void CMainViewerDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // In full screen the viewer area fills the window whatever size the window manager
    // settles on.
    if (fullScreen) {
        const QRect whole(0, 0, width(), height());
        Control(kIdViewerArea)->setGeometry(whole);
        mainSplitter->setGeometry(whole);
        return;
    }
    LayoutControls(width(), height());
}

void CMainViewerDlg::ShowControlBar(bool show) {
    for (int id : kControlBar)
        if (QWidget* control = Control(id)) control->setVisible(show);
}

void CMainViewerDlg::ExpandMediaColumn() {
    if (mainSplitter != nullptr) mainSplitter->Expand();
}

void CMainViewerDlg::EnterFullScreen() {
    if (fullScreen) return;
    savedWindowRect = geometry();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    ShowControlBar(false);
    mediaColumnWasHidden = mainSplitter->IsCollapsed();
    mainSplitter->Collapse();
    const QScreen* where = screen();
    const QRect desktop = where != nullptr ? where->geometry() : geometry();
    // Like the design, the window reaches past the left edge of the screen.
    const QRect whole(0, 0, desktop.width() + kFullScreenLeftOverhang, desktop.height());
    setGeometry(whole.translated(desktop.left() - kFullScreenLeftOverhang, desktop.top()));
    show();
    if (QWidget* viewerArea = Control(kIdViewerArea)) {
        viewerArea->setGeometry(whole);
        mainSplitter->setGeometry(whole);
        fullScreen = true;
    }
}

void CMainViewerDlg::LeaveFullScreen() {
    if (!fullScreen) return;
    if (!mediaColumnWasHidden) ExpandMediaColumn();
    ShowControlBar(true);
    setWindowFlags(windowFlags() & ~(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
    fullScreen = false;
    setGeometry(savedWindowRect);
    show();
    LayoutControls(width(), height());
}

// ---- Hint line ----

void CMainViewerDlg::RefreshHint(const QPoint& point, bool hoverOnly) {
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    const QString capture = SizeText(current.captureWidth, current.captureHeight);
    const MovieFrameSize movie = current.GetMovieFrameSize();
    const QString movieSize = SizeText(movie.width, movie.height);
    const QString noPreview = QString::fromStdString(NoPreviewText());
    const bool previewing = IsPreviewing();
    const auto inside = [&](int id) {
        QWidget* control = Control(id);
        return control != nullptr && control->geometry().contains(point);
    };
    const auto withSize = [](const char* key, const char* defaultText, const QString& size) {
        return QString::fromStdString(
            FormatWithText(GetLocalizedString(key, defaultText), size.toStdString()));
    };
    if (inside(kIdTakePhoto)) {
        SetHintText(previewing
                        ? withSize("ui_prompt_in_take_a_photo_btn", "以分辨率%s进行拍照", capture)
                        : noPreview);
    } else if (inside(kIdTimedShot)) {
        SetHintText(
            !previewing ? noPreview
            : timedShotRunning.load(std::memory_order_relaxed) != 0
                ? Text("ui_prompt_in_stop_timed_shot_btn", "停止定时摄像")
                : withSize("ui_prompt_in_start_timed_shot_btn", "以分辨率%s进行定时摄像", capture));
    } else if (inside(kIdRecord)) {
        SetHintText(
            !previewing ? noPreview
            : recording.load(std::memory_order_relaxed) != 0
                ? Text("ui_prompt_in_stop_recording_btn", "停止录像")
                : withSize("ui_prompt_in_start_recording_btn", "以分辨率%s进行录像", movieSize));
    } else if (inside(kIdSettings)) {
        SetHintText(Text("ui_prompt_in_setting_btn", "打开系统设置"));
    } else if (inside(kIdAbout)) {
        SetHintText(Text("ui_prompt_in_about_btn", "打开关于"));
    } else if (inside(kIdExit)) {
        SetHintText(Text("ui_prompt_in_exit_btn", "退出系统"));
    } else if (!hoverOnly) {
        SetHintText(StatusText());
    }
}

QString CMainViewerDlg::StatusText() {
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    const std::string capture = SizeText(current.captureWidth, current.captureHeight).toStdString();
    if (takePhoto.load(std::memory_order_relaxed) != 0)
        return QString::fromStdString(FormatWithText(
            GetLocalizedString("ui_prompt_doing_taking_a_shot", "正在以分辨率%s进行拍照"),
            capture));
    if (timedShotRunning.load(std::memory_order_relaxed) != 0) {
        const int64_t started = previewGrabberCallback.timedShot.timedShotStart.load();
        const auto elapsedMinutes =
            static_cast<int64_t>(static_cast<double>(sys::CurrentTimeMs() - started) / 60000.0);
        const int64_t total = current.GetDurationMinutes();
        return QString::fromStdString(FormatWithTextAndNumbers(
            GetLocalizedString("ui_prompt_doing_timed_shot",
                               "正在以分辨率%s进行定时摄像，定时时间  %d 分钟，剩余时间 %d 分钟"),
            capture, {total, total - elapsedMinutes}));
    }
    if (recording.load(std::memory_order_relaxed) != 0) {
        const MovieFrameSize movie = current.GetMovieFrameSize();
        QString text = QString::fromStdString(FormatWithText(
            GetLocalizedString("ui_prompt_doing_recording", "正在以分辨率%s进行录像"),
            SizeText(movie.width, movie.height).toStdString()));
        text += QString(dotCounter, QChar(0x25CF));
        dotCounter = (dotCounter + 1) % 4;
        return text;
    }
    dotCounter = 0;
    if (IsPreviewing())
        return QString::fromStdString(FormatWithText(
            GetLocalizedString("ui_prompt_doing_preview", "系统正在以分辨率%s进行预览"), capture));
    return QString::fromStdString(NoPreviewText());
}

void CMainViewerDlg::SetHintText(const QString& text) {
    // The label announces its new text to accessibility clients by itself.
    if (hintLine->text() != text) hintLine->setText(text);
}
