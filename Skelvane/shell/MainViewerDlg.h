// The one window of the program.
#pragma once

#include <QDialog>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "Skelvane/capture/SaverThread.h"

class CMainViewerDlg : public QDialog {
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
    // Drops a pending photo request and ends what runs.
    void StopAll();

    // Shared with the frame callback and the control channel without a lock.
    std::atomic<int32_t> takePhoto{0};
    std::atomic<int32_t> timedShotRunning{0};
    std::atomic<int32_t> recording{0};
    std::atomic<int32_t> shotPeriodMs{0};
    std::atomic<float> timedShotHours{1.0f};

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void ApplyTexts();
    void TimedShotSaverProc();

    CSaverThread saverThread_;
    std::mutex saverLock_;
    std::condition_variable saverWake_;
    bool closing_ = false;
};
