#include "Skelvane/browser/ResourceWindow.h"

namespace {
constexpr int kMoreResourcesId = 1001;
constexpr int kMoreResourcesHeight = 20;
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
    // The tree fills the pane above the button; the button spans the bottom 20 pixels.
    moreResources_->setGeometry(0, height() - kMoreResourcesHeight, width(), kMoreResourcesHeight);
}

CResourcesBrowserDlg::CResourcesBrowserDlg(QWidget* parent) : QDialog(parent) {
    setAccessibleName("Resources");
}
