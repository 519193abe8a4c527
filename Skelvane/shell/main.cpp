#include <QApplication>
#include <QScreen>
#include <memory>

#include "Skelvane/capture/MovieFileWriter.h"
#include "Skelvane/capture/PreviewWindow.h"
#include "Skelvane/shell/LumivorApp.h"
#include "Skelvane/shell/QtMessageBoxPresenter.h"
#include "platform/v4l2/CameraFilter.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    sys::SetMessageBoxPresenter(std::make_shared<CQtMessageBoxPresenter>());
    // USB cameras join the video-input devices; renderers draw into the live pane.
    v4l2::InstallCameraProvider();
    CPreviewWindow::InstallDisplayHost();
    // Read here on the UI thread: the movie writer asks for it on a streaming thread.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const ScreenSize size{screen->size().width(), screen->size().height()};
        SetScreenSizeSource([size] { return size; });
    }
    CLumivorApp app(QString::fromLocal8Bit(argv[0]));
    return app.InitInstance();
}
