#include "Skelvane/widgets/ImageButton.h"

#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

CXPStyleButtonST::CXPStyleButtonST(QWidget* parent) : CPictureButton(parent) {
    setMouseTracking(true);
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
    DrawBevel(painter, option);
    if (!HasPicture()) return;
    const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QRect target = FitPicture(Picture().size(), area);
    if (isEnabled()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, Picture());
        return;
    }
    // A disabled button shows its picture greyed, as the style greys any icon.
    const QPixmap scaled =
        Picture().scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawPixmap(target.topLeft(),
                       style()->generatedIconPixmap(QIcon::Disabled, scaled, &option));
}

void CXPStyleButtonST::mouseMoveEvent(QMouseEvent* event) {
    if (hoverReport_ && HasPicture()) hoverReport_(mapToParent(event->position().toPoint()));
    QPushButton::mouseMoveEvent(event);
}
