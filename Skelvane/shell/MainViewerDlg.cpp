#include "Skelvane/shell/MainViewerDlg.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>

#include "Skelvane/settings/LocalizableString.h"
#include "platform/sys/Sys.h"

CMainViewerDlg::CMainViewerDlg(const QString& markName, QWidget* parent) : QDialog(parent) {
    setProperty(markName.toUtf8().constData(), true);
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(1024, 700);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (!saverThread_.Start([this] { TimedShotSaverProc(); })) {
        sys::WarningBox("Lumivor run failure");
        std::_Exit(0);
    }
    ApplyTexts();
}

CMainViewerDlg::~CMainViewerDlg() {
    saverThread_.Stop([this] {
        std::lock_guard<std::mutex> lock(saverLock_);
        saverWake_.notify_all();
    });
}

void CMainViewerDlg::ApplyTexts() {
    const QString title =
        QString::fromStdString(GetLocalizedString("ui_dlg_viewer", "Default View"));
    setWindowTitle(title);
    setAccessibleName(title);
}

void CMainViewerDlg::TimedShotSaverProc() {
    std::unique_lock<std::mutex> lock(saverLock_);
    saverWake_.wait(lock,
                    [this] { return !saverThread_.RunFlag().load(std::memory_order_relaxed); });
}

void CMainViewerDlg::StopAll() {
    takePhoto.store(0, std::memory_order_relaxed);
    timedShotRunning.store(0, std::memory_order_relaxed);
    recording.store(0, std::memory_order_relaxed);
}

int CMainViewerDlg::RunModal() {
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    loop.exec();
    return result();
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
    StopAll();
    closing_ = true;
    done(QDialog::Accepted);
    return true;
}

void CMainViewerDlg::closeEvent(QCloseEvent* event) {
    if (closing_ || ConfirmExit()) {
        event->accept();
    } else {
        event->ignore();
    }
}

// Escape would end a dialog; here it asks like every other way out.
void CMainViewerDlg::reject() {
    if (!closing_) ConfirmExit();
}
