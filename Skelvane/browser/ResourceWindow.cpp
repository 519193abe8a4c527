#include "Skelvane/browser/ResourceWindow.h"

namespace {
constexpr int kMoreResourcesId = 1001;
}

CResourceBrowserView::CResourceBrowserView(QWidget* parent) : QWidget(parent) {
    setObjectName("mediaListPane");
    setAccessibleName("Media list");
}

CResourceWindow::CResourceWindow(QWidget* parent)
    : QWidget(parent), moreResources_(new QPushButton(this)) {
    setObjectName("recentPane");
    setAccessibleName("Folders");
    moreResources_->setObjectName(QString("button%1").arg(kMoreResourcesId));
    moreResources_->setAutoDefault(false);
}

void CResourceWindow::SetMoreResourcesText(const QString& text) {
    moreResources_->setText(text);
    moreResources_->setAccessibleName(text);
}

void CResourceWindow::RevealFile(const std::string&) {}

void CResourceWindow::RefreshTree() {}

void CResourceWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize wanted = moreResources_->sizeHint();
    moreResources_->setGeometry(width() - wanted.width(), 0, wanted.width(), wanted.height());
}

CResourcesBrowserDlg::CResourcesBrowserDlg(QWidget* parent) : QDialog(parent) {
    setAccessibleName("Resources");
}
