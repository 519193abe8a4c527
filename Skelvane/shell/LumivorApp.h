// The application object: start-up in its fixed order, then one modal run of the main
// window; when that ends the process ends.
#pragma once

#include <QString>

class CLumivorApp {
public:
    // `executablePath` gives the base name that names the single-instance lock.
    explicit CLumivorApp(const QString& executablePath);

    // Runs the whole start-up and the window. Returns the process exit code.
    int InitInstance();

    // Writes the codec's "display_status" = 0 under a volatile key. On failure shows the
    // start-up box with the system error code and returns false.
    static bool PrepareCodec();

    const QString& BaseName() const { return baseName_; }

private:
    QString baseName_;
};
