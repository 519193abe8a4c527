#include "Skelvane/browser/StripAccessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <iterator>
#include <map>
#include <utility>

#include "Skelvane/browser/ResourcesBrowserDlg.h"

namespace {

// One drawn slot. Its file name is fixed: when the slot shows another file the strip
// makes a new item, so a reader never sees an item change its name under it.
class SlotAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SlotAccessible(CResourcesBrowserDlg* strip, int slot, QString name)
        : strip_(strip), slot_(slot), name_(std::move(name)) {}

    bool isValid() const override { return !strip_.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return strip_ ? strip_->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return strip_ ? QAccessible::queryAccessibleInterface(strip_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? name_ : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!strip_ || !strip_->ItemRects().contains(slot_)) return {};
        const QRect local = strip_->ItemRects().at(slot_);
        return QRect(strip_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        if (!strip_ || !strip_->isVisible()) state.invisible = true;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction() && strip_) strip_->OpenSlot(slot_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    int Slot() const { return slot_; }

private:
    QPointer<CResourcesBrowserDlg> strip_;
    int slot_;
    QString name_;
};

class StripAccessible : public QAccessibleWidget {
public:
    explicit StripAccessible(CResourcesBrowserDlg* strip)
        : QAccessibleWidget(strip, QAccessible::List), strip_(strip) {}
    ~StripAccessible() override {
        for (const auto& [slot, item] : items_) QAccessible::deleteAccessibleInterface(item.id);
    }

    int childCount() const override {
        return static_cast<int>(strip_->SlotNames().size()) + QAccessibleWidget::childCount();
    }

    QAccessibleInterface* child(int index) const override {
        const auto& names = strip_->SlotNames();
        if (index < 0) return nullptr;
        if (index >= static_cast<int>(names.size()))
            return QAccessibleWidget::child(index - static_cast<int>(names.size()));
        const auto& [slot, name] = *std::next(names.begin(), index);
        Item& item = items_[slot];
        if (item.id == 0 || item.name != name) {
            if (item.id != 0) QAccessible::deleteAccessibleInterface(item.id);
            item.name = name;
            item.id = QAccessible::registerAccessibleInterface(
                new SlotAccessible(strip_, slot, name));
        }
        return QAccessible::accessibleInterface(item.id);
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* item = dynamic_cast<const SlotAccessible*>(child);
        if (item == nullptr) {
            const int index = QAccessibleWidget::indexOfChild(child);
            return index < 0 ? index : index + static_cast<int>(strip_->SlotNames().size());
        }
        const auto& names = strip_->SlotNames();
        const auto found = names.find(item->Slot());
        return found == names.end() ? -1
                                    : static_cast<int>(std::distance(names.begin(), found));
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint point = strip_->mapFromGlobal(QPoint(x, y));
        int index = 0;
        for (const auto& [slot, name] : strip_->SlotNames()) {
            if (strip_->ItemRects().contains(slot) && strip_->ItemRects().at(slot).contains(point))
                return child(index);
            ++index;
        }
        return QAccessibleWidget::childAt(x, y);
    }

private:
    struct Item {
        QString name;
        QAccessible::Id id = 0;
    };
    CResourcesBrowserDlg* strip_;
    mutable std::map<int, Item> items_;
};

QAccessibleInterface* StripFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("CResourcesBrowserDlg") || !object->isWidgetType())
        return nullptr;
    return new StripAccessible(static_cast<CResourcesBrowserDlg*>(object));
}

}  // namespace

void InstallStripAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(StripFactory);
        return true;
    }();
    (void)installed;
}
