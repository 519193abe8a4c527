#include "Skelvane/settings/AboutDlg.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QUrl>

#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizedText.h"
#include "Skelvane/settings/SettingParam.h"
#include "Skelvane/widgets/DialogUnits.h"
#include "Skelvane/widgets/ModalRun.h"

namespace {

constexpr int kTemplateWidth = 351;
constexpr int kTemplateHeight = 149;

struct AboutText {
    int id;
    QRect units;  // x, y, width, height in dialog units
    Qt::Alignment alignment;
    std::string Setting::*value;
};
const AboutText kTexts[] = {
    {kIdProductName, {209, 23, 121, 15}, Qt::AlignHCenter, &Setting::producename},
    {kIdCompanyName, {209, 42, 121, 15}, Qt::AlignHCenter, &Setting::companyname},
    {kIdCopyright, {7, 134, 275, 8}, Qt::AlignLeft, &Setting::copyright},
    {kIdVersion, {293, 134, 45, 9}, Qt::AlignRight, &Setting::version},
};

// The stored address as a web address: one without a scheme gets "http://". QUrl reads
// the host of "host:port" for a scheme, so a text that takes a port after "http://" has
// none either.
QUrl WebAddress(const QString& stored) {
    const QString address = stored.trimmed();
    const QUrl asStored(address);
    const QUrl onTheWeb("http://" + address);
    return asStored.scheme().isEmpty() || onTheWeb.port() != -1 ? onTheWeb : asStored;
}

QRect Place(const QRect& units) {
    return DialogRect(units.x(), units.y(), units.width(), units.height());
}

}  // namespace

void CLogoBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!picture_.isNull()) painter.drawImage(rect(), picture_);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setFixedSize(DluX(kTemplateWidth), DluY(kTemplateHeight));
    setFont(TemplateFont(font()));
    const QString title = LocalizedText("ui_dlg_about", "About");
    setWindowTitle(title);
    setAccessibleName(title);

    auto* logo = new CLogoBox(this);
    logo->setGeometry(Place({7, 7, 185, 119}));
    logo->setAccessibleName("Logo");
    logo->Load(QString::fromStdString(GetInstallFolder()) + "Resource/Image/log.bmp");
    controls_[kIdLogo] = logo;

    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    for (const AboutText& info : kTexts) {
        auto* label = new QLabel(QString::fromStdString(current.*info.value), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(info.alignment | Qt::AlignTop);
        label->setGeometry(Place(info.units));
        label->setAccessibleName(label->text());
        controls_[info.id] = label;
    }

    // The shown address is the link; clicking it opens that address.
    const QString website = QString::fromStdString(current.companywebsite);
    auto* link = new QLabel(this);
    link->setTextFormat(Qt::RichText);
    link->setText(
        QString("<a href=\"%1\">%2</a>").arg(website.toHtmlEscaped(), website.toHtmlEscaped()));
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    // Centred under the names: the template's place at the box's right edge is too narrow
    // for the address in this font.
    link->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    link->setGeometry(Place({209, 60, 121, 15}));
    link->setAccessibleName(website);
    connect(link, &QLabel::linkActivated, this,
            [website] { QDesktopServices::openUrl(WebAddress(website)); });
    link->setVisible(!website.isEmpty());
    controls_[kIdWebsite] = link;

    auto* ok = new QPushButton(LocalizedText("ui_alert_ok", "确定"), this);
    ok->setAutoDefault(false);
    ok->setGeometry(Place({234, 94, 73, 22}));
    ok->setAccessibleName(ok->text());
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    controls_[kIdOk] = ok;
}

QWidget* CAboutDlg::Control(int id) const {
    const auto found = controls_.find(id);
    return found != controls_.end() ? found->second : nullptr;
}

int CAboutDlg::RunModal() {
    return RunWindowModal(*this);
}

// Enter is no command here; Escape closes the box with Cancel, as the close box does.
void CAboutDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
