// An accessible leaf whose one action is a press (an entry of the media strip, an item of a
// drop-down button's menu): the parts of the accessibility interfaces every such item
// answers alike. The item supplies what it is (validity, parent, name, place, role, state)
// and what a press does.
#pragma once

#include <QAccessible>
#include <QAccessibleInterface>

class CPressableItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};
