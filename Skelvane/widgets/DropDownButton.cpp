#include "Skelvane/widgets/DropDownButton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "Skelvane/widgets/DropDownAccessible.h"

namespace {
constexpr int kMargin = 3;
}

CCoolBtn::CCoolBtn(QWidget* parent) : CPictureButton(parent), menu_(new QMenu(this)) {
    InstallDropDownAccessibility();
    // A click that is not a mouse press (Enter, a screen reader's press action) opens the
    // menu too; queued, so whoever clicked is answered before the menu's own loop runs.
    connect(this, &QPushButton::clicked, this, &CCoolBtn::OpenMenu, Qt::QueuedConnection);
    // A mouse pick has closed the menu already; an item triggered another way (a screen
    // reader's press action) closes it here, so the menu's loop ends just the same.
    connect(menu_, &QMenu::triggered, this, [this](QAction* action) {
        menu_->hide();
        if (commandHandler_) commandHandler_(action->data().toInt());
    });
}

void CCoolBtn::SetCaption(const QString& caption) {
    setText(caption);
    setAccessibleName(caption);
    menu_->setAccessibleName(caption);
}

void CCoolBtn::AddMenuItem(int commandId, const QString& text, const QString& picture) {
    QAction* item = menu_->addAction(QIcon(picture), text);
    item->setData(commandId);
    item->setCheckable(true);
}

QAction* CCoolBtn::MenuItem(int commandId) const {
    for (QAction* item : menu_->actions())
        if (item->data().toInt() == commandId) return item;
    return nullptr;
}

void CCoolBtn::SetMenuItemText(int commandId, const QString& text) {
    if (QAction* item = MenuItem(commandId)) item->setText(text);
}

void CCoolBtn::SetMenuItemChecked(int commandId, bool checked) {
    if (QAction* item = MenuItem(commandId)) item->setChecked(checked);
}

QPoint CCoolBtn::MenuPosition(const QRect& buttonOnScreen, int menuHeight, int screenBottom) {
    if (buttonOnScreen.bottom() + 1 + menuHeight > screenBottom + 1)
        return {buttonOnScreen.left(), buttonOnScreen.top() - menuHeight};
    return {buttonOnScreen.left(), buttonOnScreen.bottom() + 1};
}

void CCoolBtn::OpenMenu() {
    const QRect onScreen(mapToGlobal(QPoint(0, 0)), size());
    const QScreen* where = screen();
    const int bottom = where != nullptr ? where->geometry().bottom() : onScreen.bottom();
    setDown(true);
    menu_->exec(MenuPosition(onScreen, menu_->sizeHint().height(), bottom));
    setDown(false);
}

void CCoolBtn::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QPushButton::mousePressEvent(event);
    OpenMenu();
}

void CCoolBtn::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Down) return OpenMenu();
    QPushButton::keyPressEvent(event);
}

void CCoolBtn::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    DrawBevel(painter, option);

    const QRect inner = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (HasPicture()) {
        const QRect pictureRect(inner.left(), (height() - kPictureSize) / 2, kPictureSize,
                                kPictureSize);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(pictureRect, Picture());
    }
    const int divider = width() - kArrowWidth;
    const QRect captionRect(inner.left() + kPictureSize, inner.top(),
                            divider - inner.left() - kPictureSize, inner.height());
    painter.drawItemText(captionRect, Qt::AlignCenter | Qt::TextSingleLine, palette(), isEnabled(),
                         text(), QPalette::ButtonText);

    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(divider, inner.top(), divider, inner.bottom());
    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = QRect(divider, 0, kArrowWidth, height());
    painter.drawPrimitive(QStyle::PE_IndicatorArrowDown, arrow);
}
