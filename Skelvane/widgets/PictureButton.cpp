#include "Skelvane/widgets/PictureButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

CPictureButton::CPictureButton(QWidget* parent) : QPushButton(parent) {
    setAutoDefault(false);
}

void CPictureButton::SetPicture(const QString& path) {
    picture_ = QPixmap(path);
    update();
}

void CPictureButton::DrawBevel(QStylePainter& painter, QStyleOptionButton& option) {
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
}
