#include <QApplication>
#include <memory>

#include "Skelvane/shell/LumivorApp.h"
#include "Skelvane/shell/QtMessageBoxPresenter.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    sys::SetMessageBoxPresenter(std::make_shared<CQtMessageBoxPresenter>());
    CLumivorApp app(QString::fromLocal8Bit(argv[0]));
    return app.InitInstance();
}
