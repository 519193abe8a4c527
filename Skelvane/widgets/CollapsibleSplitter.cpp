#include "Skelvane/widgets/CollapsibleSplitter.h"

#include <QMouseEvent>

namespace {

// A double-click on the divider collapses or expands the left column. A drag starts by
// remembering the width, so a column dragged to nothing comes back at its width from
// before the drag.
class ToggleHandle : public QSplitterHandle {
public:
    explicit ToggleHandle(CXSplitterWnd* parent) : QSplitterHandle(Qt::Horizontal, parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        static_cast<CXSplitterWnd*>(splitter())->RememberWidth();
        QSplitterHandle::mousePressEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        auto* owner = static_cast<CXSplitterWnd*>(splitter());
        if (event->button() != Qt::LeftButton) return;
        owner->IsCollapsed() ? owner->Expand() : owner->Collapse();
    }
};

}  // namespace

CXSplitterWnd::CXSplitterWnd(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
    setChildrenCollapsible(true);
}

QSplitterHandle* CXSplitterWnd::createHandle() {
    return new ToggleHandle(this);
}

bool CXSplitterWnd::IsCollapsed() const {
    const QList<int> widths = sizes();
    return !widths.isEmpty() && widths.first() == 0;
}

void CXSplitterWnd::RememberWidth() {
    const QList<int> widths = sizes();
    if (!widths.isEmpty() && widths.first() > 0) expandedWidth_ = widths.first();
}

void CXSplitterWnd::SetLeftWidth(int width) {
    if (count() < 2) return;
    QList<int> widths = sizes();
    const int total = widths[0] + widths[1];
    widths[0] = std::min(std::max(width, 0), total);
    widths[1] = total - widths[0];
    setSizes(widths);
    RememberWidth();
}

void CXSplitterWnd::Collapse() {
    if (IsCollapsed()) return;
    RememberWidth();
    SetLeftWidth(0);
}

void CXSplitterWnd::Expand() {
    if (!IsCollapsed()) return;
    SetLeftWidth(expandedWidth_);
}
