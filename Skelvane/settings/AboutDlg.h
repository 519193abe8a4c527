// The about box: the maker's logo and the product, company, web address, copyright and
// version of the current settings.
#pragma once

#include <QDialog>
#include <QImage>
#include <map>

enum AboutControl : int {
    kIdLogo = 1045,
    kIdOk = 1071,
    kIdWebsite = 1082,
    kIdProductName = 1094,
    kIdCompanyName = 1095,
    kIdCopyright = 1107,
    kIdVersion = 1108,
};

// Paints its whole area white and the loaded picture stretched over it.
class CLogoBox : public QWidget {
    Q_OBJECT
public:
    explicit CLogoBox(QWidget* parent = nullptr) : QWidget(parent) {}
    // A file that cannot be loaded leaves the box white, without a word.
    void Load(const QString& path) { picture_.load(path); }
    bool HasPicture() const { return !picture_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Modal to the parent window.
    int RunModal();
    QWidget* Control(int id) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::map<int, QWidget*> controls_;
};
