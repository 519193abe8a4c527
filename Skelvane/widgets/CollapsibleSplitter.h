// A splitter of two side-by-side columns whose left column can be collapsed to nothing
// and expanded again at the width it had. The user does it by dragging the divider to the
// edge or by double-clicking it; the program through Collapse and Expand.
#pragma once

#include <QSplitter>

class CXSplitterWnd : public QSplitter {
    Q_OBJECT
public:
    explicit CXSplitterWnd(QWidget* parent = nullptr);

    bool IsCollapsed() const;
    // Remembers the left column's width and gives it width 0; nothing when collapsed.
    void Collapse();
    // Gives the left column its width from before it was collapsed; nothing when it is not.
    void Expand();
    // Sets the left column's width (0 collapses it).
    void SetLeftWidth(int width);
    // Keeps the left column's width for Expand when it is not collapsed.
    void RememberWidth();

protected:
    QSplitterHandle* createHandle() override;

private:
    int expandedWidth_ = 0;
};
