#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "Skelvane/capture/MovieFileWriter.h"
#include "Skelvane/capture/PreviewWindow.h"
#include "Skelvane/shell/LumivorApp.h"
#include "Skelvane/shell/Provisioning.h"
#include "Skelvane/shell/QtMessageBoxPresenter.h"
#include "platform/sys/CommandLine.h"
#include "platform/v4l2/CameraFilter.h"

namespace {

constexpr const char* kUsage = "Usage: Skelvane [Qt options]\n  or:  Skelvane --help | --version\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they work without a display.
    const int answered = sys::AnswerStandardOptions(
        argc, argv, "Skelvane",
        std::string("Skelvane shows the picture of a USB or wireless camera and takes photos, "
                    "time-lapse series and movies.\n\n") +
            kUsage +
            "\nQt's own options (-platform, -style, ...) are taken too.\n"
            "Settings live in $XDG_CONFIG_HOME/Skelvane (~/.config/Skelvane), pictures in the\n"
            "documents folder's Skelvane folder.\n");
    if (answered >= 0) return answered;
    QApplication application(argc, argv);
    // Whatever Qt did not take is an option this program does not have.
    if (QCoreApplication::arguments().size() > 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A first start (or one after the user removed the settings) needs no step by hand.
    const ProvisioningResult provisioned = ProvisionUserStore();
    if (!provisioned.failure.empty())
        std::fprintf(stderr, "Skelvane: %s\n", provisioned.failure.c_str());
    sys::SetMessageBoxPresenter(std::make_shared<CQtMessageBoxPresenter>());
    // USB cameras join the video-input devices; renderers draw into the live pane.
    v4l2::InstallCameraProvider();
    CPreviewWindow::InstallDisplayHost();
    // Read here on the UI thread: the movie writer asks for it on a streaming thread.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const ScreenSize size{screen->size().width(), screen->size().height()};
        SetScreenSizeSource([size] { return size; });
    }
    // The executable's own path, links resolved: started as "skelvane" it is still the one
    // Skelvane, so the single-instance lock is the same.
    CLumivorApp app(QCoreApplication::applicationFilePath());
    return app.InitInstance();
}
