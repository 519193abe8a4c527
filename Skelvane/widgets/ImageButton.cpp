#include "Skelvane/widgets/ImageButton.h"

#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

CXPStyleButtonST::CXPStyleButtonST(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
    setMouseTracking(true);
}

void CXPStyleButtonST::SetPicture(const QString& path) {
    picture_ = QPixmap(path);
    update();
}

void CXPStyleButtonST::SetTooltipText(const QString& text) {
    setToolTip(text);
    setAccessibleName(text);
}

QRect CXPStyleButtonST::FitPicture(const QSize& picture, const QRect& area) {
    if (picture.isEmpty() || area.isEmpty()) return {};
    const QSize fitted = picture.scaled(area.size(), Qt::KeepAspectRatio);
    return {area.left() + (area.width() - fitted.width()) / 2,
            area.top() + (area.height() - fitted.height()) / 2, fitted.width(), fitted.height()};
}

void CXPStyleButtonST::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
    if (picture_.isNull()) return;
    const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QRect target = FitPicture(picture_.size(), area);
    if (isEnabled()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, picture_);
        return;
    }
    // A disabled button shows its picture greyed, as the style greys any icon.
    const QPixmap scaled =
        picture_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawPixmap(target.topLeft(),
                       style()->generatedIconPixmap(QIcon::Disabled, scaled, &option));
}

void CXPStyleButtonST::mouseMoveEvent(QMouseEvent* event) {
    if (hoverReport_ && !picture_.isNull()) hoverReport_(mapToParent(event->position().toPoint()));
    QPushButton::mouseMoveEvent(event);
}
