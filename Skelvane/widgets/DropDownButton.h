// A push button with a small picture at its left, a one-line caption and an arrow part
// at its right behind a thin divider. A left press anywhere on it opens its menu of
// picture items below its lower left corner, or above it when the menu would reach below
// the bottom of the screen. Chosen items are reported by their command id.
#pragma once

#include <QMenu>
#include <functional>

#include "Skelvane/widgets/PictureButton.h"

class CCoolBtn : public CPictureButton {
    Q_OBJECT
public:
    static constexpr int kPictureSize = 18;
    static constexpr int kArrowWidth = 16;

    explicit CCoolBtn(QWidget* parent = nullptr);

    void SetCaption(const QString& caption);
    // Appends an item; `picture` may name a file that does not exist.
    void AddMenuItem(int commandId, const QString& text, const QString& picture);
    void SetMenuItemText(int commandId, const QString& text);
    void SetMenuItemChecked(int commandId, bool checked);
    QAction* MenuItem(int commandId) const;
    QMenu* Menu() const { return menu_; }
    void SetCommandHandler(std::function<void(int commandId)> handler) {
        commandHandler_ = std::move(handler);
    }

    // Where the menu opens: at the button's lower left corner, or with its bottom at the
    // button's top left corner when `menuHeight` would pass `screenBottom`.
    static QPoint MenuPosition(const QRect& buttonOnScreen, int menuHeight, int screenBottom);
    void OpenMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QMenu* menu_;
    std::function<void(int)> commandHandler_;
};
