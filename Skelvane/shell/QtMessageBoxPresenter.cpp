#include "Skelvane/shell/QtMessageBoxPresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

namespace {

QMessageBox* MakeBox(const QString& text, const QString& caption, unsigned style) {
    const bool question = (style & 0xF0) == sys::MB_ICONQUESTION;
    auto* box = new QMessageBox(question ? QMessageBox::Question : QMessageBox::Warning, caption,
                                text, QMessageBox::NoButton);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->addButton(QMessageBox::Ok);
    if ((style & 0x0F) == sys::MB_OKCANCEL) box->addButton(QMessageBox::Cancel);
    box->setAccessibleName(caption);
    for (QAbstractButton* button : box->buttons()) button->setAccessibleName(button->text());
    return box;
}

}  // namespace

int CQtMessageBoxPresenter::Present(const std::string& text, const std::string& caption,
                                    unsigned style) {
    const QString qtext = QString::fromStdString(text);
    const QString qcaption = QString::fromStdString(caption);
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return sys::IDOK;
    if (QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(
            app, [qtext, qcaption, style] { MakeBox(qtext, qcaption, style)->show(); },
            Qt::QueuedConnection);
        return sys::IDOK;
    }
    QPointer<QMessageBox> box = MakeBox(qtext, qcaption, style);
    int answer = sys::IDCANCEL;
    QEventLoop loop;
    QObject::connect(box, &QMessageBox::finished, &loop, [&](int) {
        answer = box->standardButton(box->clickedButton()) == QMessageBox::Ok ? sys::IDOK
                                                                              : sys::IDCANCEL;
        loop.quit();
    });
    box->show();
    box->raise();
    loop.exec();
    return answer;
}
