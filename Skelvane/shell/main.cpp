#include <QApplication>
#include <memory>

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
    CLumivorApp app(QString::fromLocal8Bit(argv[0]));
    return app.InitInstance();
}
