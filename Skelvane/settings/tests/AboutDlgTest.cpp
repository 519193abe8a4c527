#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "Skelvane/settings/AboutDlg.h"
#include "Skelvane/settings/tests/DialogTestSupport.h"

namespace dialogtest {
namespace {

// Receives the addresses the program asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QString> opened;
public slots:
    void Open(const QUrl& url) { opened.push_back(url.toString()); }
};

using AboutDlgTest = DialogTest;

QString LabelText(const CAboutDlg& dialog, int id) {
    return static_cast<QLabel*>(dialog.Control(id))->text();
}

TEST_F(AboutDlgTest, AnEmptyStoreShowsTheBuiltInValuesAndTheStretchedLogo) {
    CAboutDlg dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "About");
    EXPECT_EQ(LabelText(dialog, kIdProductName), "Skelvane");
    EXPECT_EQ(LabelText(dialog, kIdCompanyName), "Kestrovan Industries Limited");
    EXPECT_EQ(LabelText(dialog, kIdVersion), "3.1.00");
    EXPECT_EQ(LabelText(dialog, kIdCopyright),
              "Copyright (C) Kestrovan Industries Limited. All rights reserved.");
    EXPECT_TRUE(dialog.Control(kIdWebsite)->isVisible());
    EXPECT_EQ(dialog.Control(kIdWebsite)->accessibleName(), "https://www.kestrovan.example");
    EXPECT_EQ(static_cast<QPushButton*>(dialog.Control(kIdOk))->text(), "OK");

    // The 278 x 193 logo covers the whole box, corner to corner.
    const QImage logo(QString::fromStdString(GetInstallFolder()) + "Resource/Image/log.bmp");
    ASSERT_EQ(logo.size(), QSize(278, 193));
    QWidget* box = dialog.Control(kIdLogo);
    const QImage shown = box->grab().toImage();
    ASSERT_EQ(shown.size(), box->size());
    const QPoint corners[][2] = {
        {{0, 0}, {0, 0}},
        {{shown.width() - 1, shown.height() - 1}, {logo.width() - 1, logo.height() - 1}},
    };
    for (const auto& corner : corners)
        EXPECT_EQ(shown.pixel(corner[0]), logo.pixel(corner[1])) << corner[0].x();

    // Clicking the address opens it.
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "Open");
    emit static_cast<QLabel*>(dialog.Control(kIdWebsite))->linkActivated("ignored");
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(recorder.opened, std::vector<QString>{"https://www.kestrovan.example"});
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(AboutDlgTest, StoredValuesAndAnEmptyAddressHideTheLink) {
    ProvisionStore(
        "[HKEY_CURRENT_USER\\software\\Skelvane\\default\\about]\n"
        "\"companywebsite\"=\"\"\n\"version\"=\"9.9.99\"\n");
    ChangeSettings([](CSettingParam& param) { param.language = 1; });
    CAboutDlg dialog;
    dialog.show();
    EXPECT_FALSE(dialog.Control(kIdWebsite)->isVisible());
    EXPECT_EQ(LabelText(dialog, kIdVersion), "9.9.99");
    EXPECT_EQ(dialog.windowTitle(), "关于");
    EXPECT_EQ(static_cast<QPushButton*>(dialog.Control(kIdOk))->text(), "确定");
}

TEST_F(AboutDlgTest, TheLinkOpensAStoredAddressWithoutASchemeAsAWebAddress) {
    const struct {
        const char* stored;
        const char* opened;
    } cases[] = {
        {"www.kestrovan.example", "http://www.kestrovan.example"},
        {"  www.kestrovan.example/about ", "http://www.kestrovan.example/about"},
        {"ftp.kestrovan.example", "http://ftp.kestrovan.example"},  // not taken for ftp
        // QUrl alone reads the host for a scheme and the port for a path.
        {"www.kestrovan.example:8080/about", "http://www.kestrovan.example:8080/about"},
        {"localhost:8080", "http://localhost:8080"},
        // A file of that name in the working folder does not make it a local file.
        {"kestrovan.example", "http://kestrovan.example"},
        {"https://www.kestrovan.example/about", "https://www.kestrovan.example/about"},
        {"http://www.kestrovan.example:8080", "http://www.kestrovan.example:8080"},
        {"mailto:info@kestrovan.example", "mailto:info@kestrovan.example"},
    };
    const QString workingFolder = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(root_.string())));
    QFile(QString::fromStdString((root_ / "kestrovan.example").string()))
        .open(QIODevice::WriteOnly);
    const QString schemes[] = {"http", "https", "mailto", "ftp", "file"};
    UrlRecorder recorder;
    for (const QString& scheme : schemes)
        QDesktopServices::setUrlHandler(scheme, &recorder, "Open");
    for (const auto& c : cases) {
        ChangeSettings([&](CSettingParam& param) { param.companywebsite = c.stored; });
        CAboutDlg dialog;
        recorder.opened.clear();
        emit static_cast<QLabel*>(dialog.Control(kIdWebsite))->linkActivated("ignored");
        const QStringList opened(recorder.opened.begin(), recorder.opened.end());
        EXPECT_EQ(opened.join(' ').toStdString(), c.opened) << c.stored;
    }
    for (const QString& scheme : schemes) QDesktopServices::unsetUrlHandler(scheme);
    QDir::setCurrent(workingFolder);
}

TEST_F(AboutDlgTest, AMissingLogoLeavesTheBoxWhiteWithoutAWord) {
    const fs::path install = root_ / "install";
    fs::create_directories(install / "Resource");
    fs::copy(fs::path(SKELVANE_BIN_DIR) / "Resource/English.lproj",
             install / "Resource/English.lproj");
    UseInstallFolder(install.string() + "/");
    CAboutDlg dialog;
    dialog.show();
    const QImage shown = dialog.Control(kIdLogo)->grab().toImage();
    bool white = true;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            white = white && shown.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_TRUE(white);
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(AboutDlgTest, OkAcceptsEscapeAndTheCloseBoxCancelEnterDoesNothing) {
    {
        CAboutDlg dialog;
        dialog.show();
        for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(dialog.Control(kIdOk), &press);
        }
        EXPECT_TRUE(dialog.isVisible());
        static_cast<QPushButton*>(dialog.Control(kIdOk))->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    {
        CAboutDlg dialog;
        dialog.show();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    {
        CAboutDlg dialog;
        dialog.show();
        dialog.setResult(QDialog::Accepted);
        dialog.close();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
}

}  // namespace
}  // namespace dialogtest

#include "AboutDlgTest.moc"
