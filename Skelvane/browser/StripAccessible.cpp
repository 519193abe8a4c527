#include "Skelvane/browser/StripAccessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "Skelvane/browser/ResourcesBrowserDlg.h"
#include "Skelvane/widgets/PressableItemAccessible.h"

namespace {

// One entry of the list. Its position and file name are fixed: when the position holds
// another file the strip makes a new item, so a reader never sees an item change its name
// under it.
class EntryAccessible : public CPressableItemAccessible {
public:
    EntryAccessible(CResourcesBrowserDlg* strip, int position, QString name)
        : strip_(strip), position_(position), name_(std::move(name)) {}

    bool isValid() const override { return !strip_.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return strip_ ? strip_->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return strip_ ? QAccessible::queryAccessibleInterface(strip_.data()) : nullptr;
    }
    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? name_ : QString();
    }
    // Where the last paint drew it; nothing for an entry scrolled out of view.
    QRect rect() const override {
        const std::optional<int> slot = DrawnSlot();
        if (!slot) return {};
        const QRect local = strip_->ItemRects().at(*slot);
        return QRect(strip_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        state.offscreen = !DrawnSlot().has_value();
        if (!strip_ || !strip_->isVisible()) state.invisible = true;
        return state;
    }
    void doAction(const QString& action) override {
        // Opens the file this item was made for, not whatever the position holds now.
        if (action == pressAction() && strip_ && strip_->EntryName(position_) == name_)
            strip_->OpenEntry(static_cast<size_t>(position_));
    }

    int Position() const { return position_; }

private:
    std::optional<int> DrawnSlot() const {
        if (!strip_) return std::nullopt;
        const int slot = position_ - strip_->FirstVisible();
        const auto drawn = strip_->SlotNames().find(slot);
        if (drawn == strip_->SlotNames().end() || drawn->second != name_) return std::nullopt;
        return slot;
    }

    QPointer<CResourcesBrowserDlg> strip_;
    int position_;
    QString name_;
};

// The strip as a list of every entry of the browsed folder, drawn or not, so a reader can
// walk them and automation can find a file by name; the scroll bar follows the entries.
class StripAccessible : public QAccessibleWidget {
public:
    explicit StripAccessible(CResourcesBrowserDlg* strip)
        : QAccessibleWidget(strip, QAccessible::List), strip_(strip) {}
    ~StripAccessible() override {
        for (const auto& [position, item] : items_) QAccessible::deleteAccessibleInterface(item.id);
    }

    int childCount() const override { return EntryCount() + QAccessibleWidget::childCount(); }

    QAccessibleInterface* child(int index) const override {
        const int entries = EntryCount();
        if (index < 0) return nullptr;
        if (index >= entries) return QAccessibleWidget::child(index - entries);
        const QString name = strip_->EntryName(static_cast<size_t>(index));
        Item& item = items_[index];
        if (item.id == 0 || item.name != name) {
            if (item.id != 0) QAccessible::deleteAccessibleInterface(item.id);
            item.name = name;
            item.id =
                QAccessible::registerAccessibleInterface(new EntryAccessible(strip_, index, name));
        }
        return QAccessible::accessibleInterface(item.id);
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (const auto* entry = dynamic_cast<const EntryAccessible*>(child))
            return entry->Position() < EntryCount() ? entry->Position() : -1;
        const int index = QAccessibleWidget::indexOfChild(child);
        return index < 0 ? index : index + EntryCount();
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint point = strip_->mapFromGlobal(QPoint(x, y));
        for (const auto& [slot, rect] : strip_->ItemRects())
            if (rect.contains(point)) return child(strip_->FirstVisible() + slot);
        return QAccessibleWidget::childAt(x, y);
    }

private:
    struct Item {
        QString name;
        QAccessible::Id id = 0;
    };

    // Also lets go of the items of positions the list no longer has.
    int EntryCount() const {
        const int count =
            static_cast<int>(std::min<size_t>(strip_->Model().GetFileCount(), INT32_MAX));
        for (auto item = items_.lower_bound(count); item != items_.end();) {
            QAccessible::deleteAccessibleInterface(item->second.id);
            item = items_.erase(item);
        }
        return count;
    }

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
