// The one window of the program: the live picture, the media column beside it, the row of
// command buttons, the flip menu and the hint line. It owns the capture object, the device
// list and the identity of the previewed device, and the activity flags that the frame
// callbacks, the saving thread and the control channel share with it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Skelvane/capture/CaptureOwner.h"
#include "Skelvane/capture/CaptureVideo.h"
#include "Skelvane/capture/DeviceChoice.h"
#include "Skelvane/capture/Resolution.h"
#include "Skelvane/settings/SettingDlg.h"
#include "Skelvane/settings/SettingDlgOwner.h"
#include "platform/v4l2/DeviceMonitor.h"

class QLabel;
class QSplitter;
class CXPStyleButtonST;
class CCoolBtn;
class CXSplitterWnd;
class CResourceWindow;
class CResourceBrowserView;
class CPreviewWindow;

// Control and command ids of the window.
enum ViewerControl : int {
    kIdAboutMenuItem = 16,
    kIdRecord = 1004,
    kIdExit = 1065,
    kIdSettings = 1069,
    kIdAbout = 1072,
    kIdViewerArea = 1075,
    kIdHintLabel = 1076,
    kIdHintSeparator = 1077,
    kIdHintLine = 1084,
    kIdFontSource = 1091,
    kIdFullScreen = 1098,
    kIdFlipButton = 1109,
    kIdFlipSlot = 1110,
    kIdRotateSlot = 1118,
    kIdTakePhoto = 1120,
    kIdTimedShot = 1121,
    kIdFlipVertical = 32779,
    kIdFlipHorizontal = 32780,
    kIdRotate180 = 32781,
    kIdRotate90Ccw = 32782,
    kIdRotate90Cw = 32783,
};

class CMainViewerDlg : public QDialog, public ICaptureOwner, public ISettingDlgOwner {
    Q_OBJECT
public:
    // `markName` is the executable's base name: the window carries a property of that
    // name so a second start can find it and bring it forward.
    explicit CMainViewerDlg(const QString& markName, QWidget* parent = nullptr);
    ~CMainViewerDlg() override;

    // Shows the window and returns when it ends, like a modal run, but without blocking the
    // program's other top-level windows: the owner-less message boxes must stay usable.
    int RunModal();
    // Asks whether to leave; on OK stops everything and ends the modal run.
    bool ConfirmExit();

    // Tears the old graph down and previews the requested device; true when it shows live
    // video. A request without a size is given the size the device delivers.
    bool StartPreview(PreviewRequest request) override;
    void ClearPreview() override;
    bool IsPreviewing() const { return !deviceIdentity.empty(); }
    // The remembered device with its stored size, else the first device of a listed vendor.
    void ChooseDevice();
    // Restarts the preview at `size` unless the current capture size already is it.
    bool SwitchCaptureSize(const CaptureResolution& size);
    // The settings changed the capture size of a previewed USB camera.
    bool CaptureSizeChanged() const;
    // Drops a pending photo request, ends a timed shot and a recording, tears the graph down.
    void StopAll();
    void StopTimedShot();
    void StopRecording();
    // The take-photo, timed-shot, record, settings and about buttons together; when
    // disabling, `keep` stays enabled.
    void EnableCommandButtons(bool enable, QWidget* keep = nullptr);
    // True when the stored saving folder exists (the media folders are then made sure of).
    bool CheckMediaFolder();
    void WarnNoCamera();
    void WarnNoPreview();
    std::string NoPreviewText() const;
    // A capture device appeared or went away.
    void OnDevicesChanged();
    // Runs the command of a button or menu item.
    void OnCommand(int id);
    // After the settings dialog ended with OK: new texts, folder tree and capture size.
    void SettingsAccepted();

    // Layout, full screen and hint line.
    void ApplyTexts();
    void UpdateRecordTip();
    void UpdateTimedShotTip();
    void LayoutControls(int width, int height);
    void ShowControlBar(bool show);
    void EnterFullScreen();
    void LeaveFullScreen();
    void RefreshHint(const QPoint& point, bool hoverOnly);
    void SetHintText(const QString& text);
    void ExpandMediaColumn();

    // The control with a design id, or none.
    QWidget* Control(int id) const;
    CCoolBtn* FlipButton() const { return flipButton; }
    CXSplitterWnd* MainSplitter() const { return mainSplitter; }
    CPreviewWindow* LivePane() const { return livePane; }
    CResourceWindow* RecentPane() const { return recentPane.load(std::memory_order_relaxed); }
    CResourceBrowserView* MediaListPane() const { return mediaListPane; }
    bool IsFullScreen() const { return fullScreen; }
    int MarkedMenuItem() const { return markedMenuItem; }
    const DeviceTable& Devices() const override { return deviceTable; }
    const std::string& DeviceIdentity() const override { return deviceIdentity; }

    // ISettingDlgOwner: what the open settings dialog reads and starts.
    const ResolutionList& Resolutions() const override { return resolutionList; }
    bool CaptureBusy() const override;
    void TearDownPreview() override { captureVideo.TearDown(); }
    void ShowDeviceProperties() override { captureVideo.ShowDeviceProperties(); }
    CSettingDlg* SettingDialog() const { return settingDialog; }

    // ICaptureOwner: read and written by the streaming threads without a lock.
    std::atomic<int32_t>& TakePhoto() override { return takePhoto; }
    std::atomic<int32_t>& TimedShotRunning() override { return timedShotRunning; }
    std::atomic<int32_t>& Recording() override { return recording; }
    int32_t ShotPeriodMs() const override { return shotPeriodMs.load(std::memory_order_relaxed); }
    float TimedShotHours() const override { return timedShotHours.load(std::memory_order_relaxed); }
    void PostEvent(int eventNumber) override;
    void RevealFile(const std::string& path) override;

    std::atomic<int32_t> takePhoto{0};
    std::atomic<int32_t> timedShotRunning{0};
    std::atomic<int32_t> recording{0};
    std::atomic<int32_t> shotPeriodMs{0};
    std::atomic<float> timedShotHours{1.0f};

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    void CreateFlipButton();
    void CreatePanes();
    void RegisterDeviceNotices();
    void OnChooseDevice();
    void TakePhotoCommand();
    void TimedShotCommand();
    void RecordCommand();
    void SettingsCommand();
    void FlipMenuCommand(int id);
    // The settings dialog and the about box, modal to this window; true when the settings
    // dialog ended with OK.
    bool OpenSettings();
    void OpenAbout();
    // Opens and closes the movie file of a recording.
    // "Make a movie" of the pictures `listPictures` gives, from `folder`.
    void MakeMovie(const std::string& folder,
                   std::function<std::vector<std::string>()> listPictures);
    // At the end of a timed-shot run that stored pictures: "Make a movie" of them.
    void OfferRunMovie();
    void StartMovieFile(const std::string& path);
    void StopMovieFile();
    QString StatusText();
    CXPStyleButtonST* ImageButton(int id) const;

    CCaptureVideo captureVideo;
    DeviceTable deviceTable;
    std::string deviceIdentity;
    ResolutionList resolutionList;

    std::map<int, QWidget*> controls_;
    CXSplitterWnd* mainSplitter = nullptr;
    QSplitter* columnSplitter = nullptr;
    std::atomic<CResourceWindow*> recentPane{nullptr};
    CResourceBrowserView* mediaListPane = nullptr;
    CPreviewWindow* livePane = nullptr;
    CCoolBtn* flipButton = nullptr;
    QLabel* hintLine = nullptr;
    int markedMenuItem = 0;

    QPointer<CSettingDlg> settingDialog;
    bool fullScreen = false;
    bool mediaColumnWasHidden = false;
    QRect savedWindowRect;
    int dotCounter = 0;
    CaptureResolution savedCapture;
    QTimer hintTimer;
    bool chooseDevicePosted_ = false;
    bool closing_ = false;

    v4l2::DeviceMonitor deviceMonitor;
    // One device notice waits on the UI thread at a time: a burst of udev events (one per
    // node of a camera) becomes one enumeration.
    std::atomic<bool> devicesChangePending_{false};
};
