// The QApplication of a window test suite: made in SetUpTestSuite and deleted in
// TearDownTestSuite, so it is gone before the process's static objects are destroyed.
#pragma once

#include <QApplication>
#include <QElapsedTimer>

#include <functional>

inline QApplication*& TestApplication() {
    static QApplication* application = nullptr;
    return application;
}

inline void StartTestApplication() {
    static int argc = 1;
    static char name[] = "skelvane-test";
    static char* argv[] = {name, nullptr};
    if (TestApplication() == nullptr) TestApplication() = new QApplication(argc, argv);
}

inline void StopTestApplication() {
    delete TestApplication();
    TestApplication() = nullptr;
}

// Runs the event loop until `done` says so (true) or `milliseconds` passed (false).
inline bool ProcessEventsUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
