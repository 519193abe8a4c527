#include "Skelvane/shell/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

namespace {

constexpr int kAnswerWaitMs = 1500;
const QByteArray kActivate = "activate\n";
const QByteArray kActivated = "activated\n";
const QByteArray kNoWindow = "nowindow\n";

}  // namespace

CSingleInstance::CSingleInstance(const QString& name) : name_(name) {}

CSingleInstance::~CSingleInstance() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

QString CSingleInstance::LockFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    return QDir::tempPath() + QString("/skelvane-%1").arg(::getuid());
}

bool CSingleInstance::Acquire() {
    const QString folder = LockFolder();
    QDir().mkpath(folder);
    const QByteArray lockPath = QString(folder + "/" + name_ + ".lock").toLocal8Bit();
    lockFd_ = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) return false;

    // The lock is ours, so a socket left by a crashed instance is stale.
    const QString socketPath = folder + "/" + name_ + ".socket";
    QLocalServer::removeServer(socketPath);
    server_ = std::make_unique<QLocalServer>();
    if (server_->listen(socketPath))
        connect(server_.get(), &QLocalServer::newConnection, this,
                &CSingleInstance::OnActivationRequest);
    return true;
}

bool CSingleInstance::ActivateRunningInstance() const {
    QLocalSocket socket;
    socket.connectToServer(LockFolder() + "/" + name_ + ".socket");
    if (!socket.waitForConnected(kAnswerWaitMs)) return false;
    socket.write(kActivate);
    if (!socket.waitForBytesWritten(kAnswerWaitMs)) return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kAnswerWaitMs)) return false;
    return socket.readLine() == kActivated;
}

void CSingleInstance::OnActivationRequest() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine() || socket->readLine() != kActivate) return;
            // The first top-level window that carries the property is the main window.
            QWidget* marked = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->property(name_.toUtf8().constData()).isValid()) {
                    marked = widget;
                    break;
                }
            }
            if (marked != nullptr) {
                if (marked->isMinimized()) marked->showNormal();
                marked->raise();
                marked->activateWindow();
                if (QWidget* popup = QApplication::activeModalWidget()) {
                    popup->raise();
                    popup->activateWindow();
                }
            }
            socket->write(marked != nullptr ? kActivated : kNoWindow);
            socket->flush();
        });
    }
}
