// The media column's panes: the folder tree with its more-resources button (top) and the
// media list (bottom) that hosts the thumbnail strip of the folder chosen in the tree.
#pragma once

#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <string>

#include "Skelvane/browser/ResourcesBrowserDlg.h"

class CResourceBrowserView : public QWidget {
    Q_OBJECT
public:
    explicit CResourceBrowserView(QWidget* parent = nullptr);
    // The strip, given by tests that choose the model's root and change source.
    CResourceBrowserView(QWidget* parent, CResourcesBrowserDlg* dialog);

    CResourcesBrowserDlg* Dialog() const { return dialog_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CResourcesBrowserDlg* dialog_;
};

class CResourceWindow : public QWidget {
    Q_OBJECT
public:
    // `captureBusy` tells whether a recording, photo or timed-shot run is going on.
    explicit CResourceWindow(
        QWidget* parent = nullptr, std::function<bool()> captureBusy = [] { return false; });

    void SetBrowserView(CResourceBrowserView* view) { listPane = view; }
    CResourceBrowserView* BrowserView() const { return listPane; }
    QTreeWidget* Tree() const { return tree_; }
    // The more-resources button's caption (control 1001).
    void SetMoreResourcesText(const QString& text);
    QPushButton* MoreResourcesButton() const { return moreResources_; }

    // Rebuilds the tree when the media root or the folder layout changed.
    void RefreshTree();
    // Selects the folder of a picture or movie just stored and shows it at the end of the
    // strip. Callable from any thread; the work runs on the UI thread.
    void RevealFile(const std::string& path);
    // Opens the selected folder (the media root when none) in the file manager; false
    // when the desktop has no handler for it.
    bool ExploreSelected();
    // The folder ExploreSelected opens.
    std::string SelectedFolderPath() const;
    // The folder of `item`: the media root for the top item.
    static std::string FolderPathOf(const QTreeWidgetItem* item);
    // The folder of `item` when it holds a timed-shot run: a run folder of the dated layout,
    // the timed-shot folder of the flat one; empty for any other item.
    static std::string TimedShotFolderOf(const QTreeWidgetItem* item);
    // Called with the folder when "Make a movie" is chosen in the tree's menu, which offers
    // it on timed-shot folders only.
    void SetMakeMovieHandler(std::function<void(const std::string&)> handler) {
        makeMovie_ = std::move(handler);
    }
    // The tree's menu for `item` (empty when it offers nothing), as the right button opens it.
    QMenu* CreateFolderMenu(QTreeWidgetItem* item);

    // mediaRoot, then "/" + each of a, b, c that is not empty.
    static std::string BuildFolderPath(const std::string& a, const std::string& b,
                                       const std::string& c);
    // Items keep their folder's name as the file system's bytes; the shown text is decoded
    // from them, so a name that is not UTF-8 still leads to its folder.
    static std::string ItemName(const QTreeWidgetItem* item);
    static QTreeWidgetItem* FindChildItem(QTreeWidgetItem* item, const std::string& name);
    static QTreeWidgetItem* InsertChildItem(const std::string& folder, QTreeWidgetItem* parent,
                                            const std::string& name);
    bool SelectFileFolder(const std::string& a, const std::string& b, const std::string& c);

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void RevealOnUiThread(const QByteArray& path);

private:
    void OnSelectFolder();
    void ShowFolderMenu(const QPoint& position);
    // Items for the sub-folders of `folder`, and in the dated layout for theirs, down to the
    // run folders `levels` below it.
    void AddSubfolders(const std::string& folder, QTreeWidgetItem* item, int levels);
    CResourcesBrowserDlg* ListDialog() const;

    QTreeWidget* tree_;
    QPushButton* moreResources_;
    CResourceBrowserView* listPane = nullptr;
    std::string rootPath;
    std::function<bool()> captureBusy_;
    std::function<void(const std::string&)> makeMovie_;
};
