// Runs a dialog modal to its parent window only, until it ends, and returns its result.
// Other top-level windows, the owner-less message boxes among them, stay usable, and the
// dialog may hide itself for a while without ending the run.
#pragma once

#include <QDialog>
#include <QEventLoop>

inline int RunWindowModal(QDialog& dialog) {
    dialog.setWindowModality(Qt::WindowModal);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    loop.exec();
    return dialog.result();
}
