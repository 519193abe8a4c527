#include "Skelvane/widgets/DropDownAccessible.h"

#include <QAccessibleWidget>
#include <QPointer>

#include "Skelvane/widgets/DropDownButton.h"
#include "Skelvane/widgets/PressableItemAccessible.h"

namespace {

// The text as the menu shows it: "&&" is a shown ampersand, a single "&" marks the
// mnemonic and is not shown.
QString ShownText(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && ++i == text.size()) break;
        shown += text[i];
    }
    return shown;
}

class MenuItemAccessible : public CPressableItemAccessible {
public:
    MenuItemAccessible(QMenu* menu, QAction* action) : menu_(menu), action_(action) {}

    bool isValid() const override { return !menu_.isNull() && !action_.isNull(); }
    QObject* object() const override { return action_; }
    QWindow* window() const override { return menu_ ? menu_->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(menu_.data());
    }
    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name && action_ ? ShownText(action_->text()) : QString();
    }
    QRect rect() const override {
        if (!isValid() || !menu_->isVisible()) return {};
        const QRect local = menu_->actionGeometry(action_);
        return QRect(menu_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::MenuItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) return state;
        state.invisible = !menu_->isVisible() || !action_->isVisible();
        state.disabled = !action_->isEnabled();
        state.focusable = true;
        state.focused = menu_->activeAction() == action_;
        state.checkable = action_->isCheckable();
        state.checked = action_->isChecked();
        return state;
    }
    // Triggering the item reports it through the menu, which closes on it (see CCoolBtn).
    void doAction(const QString& action) override {
        if (action == pressAction() && isValid() && action_->isEnabled()) action_->trigger();
    }

private:
    QPointer<QMenu> menu_;
    QPointer<QAction> action_;
};

// The menu of a drop-down button, a child of the button rather than of the application.
class MenuAccessible : public QAccessibleWidget {
public:
    explicit MenuAccessible(QMenu* menu) : QAccessibleWidget(menu, QAccessible::PopupMenu) {}

    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(widget()->parentWidget());
    }
    int childCount() const override { return static_cast<int>(Menu()->actions().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QAction*> actions = Menu()->actions();
        if (index < 0 || index >= actions.size()) return nullptr;
        QAction* action = actions.at(index);
        // An item is registered once; Qt deletes it with its action.
        if (QAccessibleInterface* item = QAccessible::queryAccessibleInterface(action)) return item;
        QAccessibleInterface* item = new MenuItemAccessible(Menu(), action);
        QAccessible::registerAccessibleInterface(item);
        return item;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* action = child != nullptr ? qobject_cast<QAction*>(child->object()) : nullptr;
        return action != nullptr ? static_cast<int>(Menu()->actions().indexOf(action)) : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAction* action = Menu()->actionAt(Menu()->mapFromGlobal(QPoint(x, y)));
        return action != nullptr ? child(static_cast<int>(Menu()->actions().indexOf(action)))
                                 : nullptr;
    }

private:
    QMenu* Menu() const { return static_cast<QMenu*>(widget()); }
};

// The button, with its menu as its last child while the menu is open; its press action
// opens the menu as a click does.
class DropDownAccessible : public QAccessibleWidget {
public:
    explicit DropDownAccessible(CCoolBtn* button)
        : QAccessibleWidget(button, QAccessible::Button), button_(button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.hasPopup = true;
        state.pressed = button_->isDown();
        return state;
    }
    int childCount() const override {
        return QAccessibleWidget::childCount() + (button_->Menu()->isVisible() ? 1 : 0);
    }
    QAccessibleInterface* child(int index) const override {
        const int own = QAccessibleWidget::childCount();
        if (index == own && button_->Menu()->isVisible())
            return QAccessible::queryAccessibleInterface(button_->Menu());
        return QAccessibleWidget::child(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child != nullptr && child->object() == button_->Menu())
            return button_->Menu()->isVisible() ? QAccessibleWidget::childCount() : -1;
        return QAccessibleWidget::indexOfChild(child);
    }

    QStringList actionNames() const override {
        return QStringList{pressAction(), showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != pressAction() && action != showMenuAction())
            return QAccessibleWidget::doAction(action);
        if (button_->isEnabled()) button_->click();
    }

private:
    CCoolBtn* button_;
};

QAccessibleInterface* DropDownFactory(const QString& className, QObject* object) {
    if (!object->isWidgetType()) return nullptr;
    if (className == QLatin1String("CCoolBtn"))
        return new DropDownAccessible(static_cast<CCoolBtn*>(object));
    if (className == QLatin1String("QMenu") && qobject_cast<CCoolBtn*>(object->parent()))
        return new MenuAccessible(static_cast<QMenu*>(object));
    return nullptr;
}

}  // namespace

void InstallDropDownAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(DropDownFactory);
        return true;
    }();
    (void)installed;
}
