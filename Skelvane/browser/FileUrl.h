// File names as the file system keeps them: bytes, which need not be UTF-8. QString and
// QUrl::fromLocalFile turn bytes that are not UTF-8 into U+FFFD, which names another file,
// so paths stay bytes and only what is shown is decoded.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUrl>
#include <string>

// A file URL for the absolute `path` that carries its bytes as they are.
inline QUrl LocalFileUrl(const std::string& path) {
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/"));
}

// The last part of `path`, decoded for showing.
inline QString DisplayFileName(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.substr(path.rfind('/') + 1)));
}
