// The media column's panes: the folder tree with its more-resources button (top) and the
// media list (bottom) that hosts the thumbnail strip. For now they are empty panes; the
// folder tree and the thumbnails fill them.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QWidget>
#include <string>

class CResourceBrowserView : public QWidget {
    Q_OBJECT
public:
    explicit CResourceBrowserView(QWidget* parent = nullptr);
};

class CResourceWindow : public QWidget {
    Q_OBJECT
public:
    explicit CResourceWindow(QWidget* parent = nullptr);

    void SetBrowserView(CResourceBrowserView* view) { browserView_ = view; }
    CResourceBrowserView* BrowserView() const { return browserView_; }
    // The more-resources button's caption (control 1001).
    void SetMoreResourcesText(const QString& text);
    QPushButton* MoreResourcesButton() const { return moreResources_; }
    // A stored file to show; called on the thread that stored it. Nothing is shown yet.
    void RevealFile(const std::string& path);
    // Rebuilds the folder tree after the media root changed. Nothing to rebuild yet.
    void RefreshTree();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPushButton* moreResources_;
    CResourceBrowserView* browserView_ = nullptr;
};

class CResourcesBrowserDlg : public QDialog {
    Q_OBJECT
public:
    explicit CResourcesBrowserDlg(QWidget* parent = nullptr);
};
