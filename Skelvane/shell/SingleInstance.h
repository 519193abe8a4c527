// One running program per user session: a lock file held for the process's life, and a
// local socket through which a second start asks the first to bring its window forward.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    // `name` is the executable's base name; it names the lock file, the socket and the
    // window property that marks the main window.
    explicit CSingleInstance(const QString& name);
    ~CSingleInstance() override;

    // True when this process now holds the lock.
    bool Acquire();
    // Asks the running instance to restore and raise its marked window. True when it
    // answered that it did.
    bool ActivateRunningInstance() const;

    static QString LockFolder();

private:
    void OnActivationRequest();

    QString name_;
    int lockFd_ = -1;
    std::unique_ptr<QLocalServer> server_;
};
