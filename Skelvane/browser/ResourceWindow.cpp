#include "Skelvane/browser/ResourceWindow.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "Skelvane/browser/FileUrl.h"
#include "Skelvane/settings/LocalizedText.h"
#include "Skelvane/settings/SettingParam.h"

namespace {

constexpr int kTreeId = 100;
constexpr int kMoreResourcesId = 1001;
constexpr int kMoreResourcesHeight = 20;
constexpr char kTopItemText[] = "Skelvane";

CSettingParam CurrentSettings() {
    return CSettingParamManage::Instance()->GetCurrent();
}

bool DatedLayout() {
    return CurrentSettings().autocreatingfolder != 0;
}

// The dated layout's depth below the media root: kind, date and run folders.
constexpr int kDatedLevels = 3;

QIcon FolderIcon(const std::string& folder) {
    static const QFileIconProvider provider;
    return provider.icon(QFileInfo(QFile::decodeName(QByteArray::fromStdString(folder))));
}

// The names of the sub-folders of `folder`, in name order (as the design's file system
// lists them; Linux lists them in hash order). Links to folders are not followed, as the
// folder monitor does not follow them: a link to "." or "/" would make the tree endless or
// walk the whole disk.
std::vector<std::string> SubfolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code typeError;
        if (entry->symlink_status(typeError).type() == std::filesystem::file_type::directory)
            names.push_back(entry->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

CResourceBrowserView::CResourceBrowserView(QWidget* parent)
    : CResourceBrowserView(parent, nullptr) {}

CResourceBrowserView::CResourceBrowserView(QWidget* parent, CResourcesBrowserDlg* dialog)
    : QWidget(parent), dialog_(dialog != nullptr ? dialog : new CResourcesBrowserDlg(this)) {
    setObjectName("mediaListPane");
    setAccessibleName("Media list");
    dialog_->setParent(this, Qt::Widget);
    dialog_->show();
}

void CResourceBrowserView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    dialog_->setGeometry(0, 0, width(), height());
}

CResourceWindow::CResourceWindow(QWidget* parent, std::function<bool()> captureBusy)
    : QWidget(parent),
      tree_(new QTreeWidget(this)),
      moreResources_(new QPushButton(this)),
      captureBusy_(std::move(captureBusy)) {
    setObjectName("recentPane");
    setAccessibleName("Folders");
    tree_->setObjectName(QString("tree%1").arg(kTreeId));
    tree_->setAccessibleName("Folder tree");
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { OnSelectFolder(); });
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { ShowFolderMenu(position); });
    moreResources_->setObjectName(QString("button%1").arg(kMoreResourcesId));
    moreResources_->setAutoDefault(false);
    SetMoreResourcesText(LocalizedText("ui_view_btn_more_resources", "更多..."));
    connect(moreResources_, &QPushButton::clicked, this, [this] { ExploreSelected(); });
    RefreshTree();
}

void CResourceWindow::SetMoreResourcesText(const QString& text) {
    moreResources_->setText(text);
    moreResources_->setAccessibleName(text);
}

void CResourceWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The tree fills the pane above the button; the button spans the bottom 20 pixels.
    tree_->setGeometry(0, 0, width(), std::max(0, height() - kMoreResourcesHeight));
    moreResources_->setGeometry(0, height() - kMoreResourcesHeight, width(), kMoreResourcesHeight);
}

CResourcesBrowserDlg* CResourceWindow::ListDialog() const {
    return listPane != nullptr ? listPane->Dialog() : nullptr;
}

std::string CResourceWindow::BuildFolderPath(const std::string& a, const std::string& b,
                                             const std::string& c) {
    std::string path = CurrentSettings().GetMediaRoot();
    for (const std::string* name : {&a, &b, &c})
        if (!name->empty()) path += "/" + *name;
    return path;
}

std::string CResourceWindow::ItemName(const QTreeWidgetItem* item) {
    return item->data(0, Qt::UserRole).toByteArray().toStdString();
}

QTreeWidgetItem* CResourceWindow::FindChildItem(QTreeWidgetItem* item, const std::string& name) {
    for (int i = 0; i < item->childCount(); ++i)
        if (ItemName(item->child(i)) == name) return item->child(i);
    return nullptr;
}

QTreeWidgetItem* CResourceWindow::InsertChildItem(const std::string& folder,
                                                  QTreeWidgetItem* parent,
                                                  const std::string& name) {
    const QByteArray bytes = QByteArray::fromStdString(name);
    auto* item = new QTreeWidgetItem(parent, QStringList{QFile::decodeName(bytes)});
    item->setData(0, Qt::UserRole, bytes);
    item->setIcon(0, FolderIcon(folder));
    return item;
}

void CResourceWindow::RefreshTree() {
    const CSettingParam current = CurrentSettings();
    if (current.GetMediaRoot() == rootPath &&
        current.autocreatingfolder ==
            CSettingParamManage::Instance()->GetPrevious().autocreatingfolder)
        return;
    rootPath = current.GetMediaRoot();
    tree_->clear();
    if (CResourcesBrowserDlg* dialog = ListDialog()) dialog->Model().ResetForNewRoot();
    auto* top = new QTreeWidgetItem(tree_, QStringList{kTopItemText});
    top->setData(0, Qt::UserRole, QByteArray(kTopItemText));
    top->setIcon(0, FolderIcon(rootPath));
    AddSubfolders(rootPath, top, DatedLayout() ? kDatedLevels : 1);
    top->setExpanded(true);
}

void CResourceWindow::AddSubfolders(const std::string& folder, QTreeWidgetItem* item, int levels) {
    for (const std::string& name : SubfolderNames(folder)) {
        const std::string path = folder + "/" + name;
        QTreeWidgetItem* child = InsertChildItem(path, item, name);
        if (levels > 1) AddSubfolders(path, child, levels - 1);
    }
}

void CResourceWindow::OnSelectFolder() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (item == nullptr) return;
    // During a capture the folder is chosen by RevealFile instead.
    if (captureBusy_()) return;
    // Only folders without sub-folders are browsed.
    if (item->childCount() > 0) return;
    std::string path;
    if (DatedLayout()) {
        QTreeWidgetItem* parent = item->parent();
        QTreeWidgetItem* grandparent = parent != nullptr ? parent->parent() : nullptr;
        if (grandparent == nullptr) return;
        path = BuildFolderPath(ItemName(grandparent), ItemName(parent), ItemName(item));
    } else {
        path = BuildFolderPath(ItemName(item), "", "");
    }
    if (CResourcesBrowserDlg* dialog = ListDialog()) dialog->Model().SwitchFolder(path, false);
}

std::string CResourceWindow::FolderPathOf(const QTreeWidgetItem* item) {
    std::string below;
    for (; item != nullptr && item->parent() != nullptr; item = item->parent())
        below = "/" + ItemName(item) + below;
    return CurrentSettings().GetMediaRoot() + below;
}

std::string CResourceWindow::SelectedFolderPath() const {
    return FolderPathOf(tree_->currentItem());
}

std::string CResourceWindow::TimedShotFolderOf(const QTreeWidgetItem* item) {
    // Below the top item: the kind folder, and in the dated layout its date and run folders.
    int depth = 0;
    const QTreeWidgetItem* kind = item;
    for (; kind != nullptr && kind->parent() != nullptr && kind->parent()->parent() != nullptr;
         kind = kind->parent())
        ++depth;
    if (kind == nullptr || kind->parent() == nullptr) return {};
    if (depth != (DatedLayout() ? kDatedLevels - 1 : 0)) return {};
    return FolderPathOf(kind) == CurrentSettings().GetTimedShotsFolder() ? FolderPathOf(item)
                                                                         : std::string();
}

QMenu* CResourceWindow::CreateFolderMenu(QTreeWidgetItem* item) {
    const std::string folder = TimedShotFolderOf(item);
    auto* menu = new QMenu(tree_);
    menu->setObjectName("folderMenu");
    menu->setAccessibleName("Folder menu");
    if (folder.empty() || !makeMovie_) return menu;
    const QString text = LocalizedText("ui_menu_make_movie", "Make a movie");
    QAction* makeMovie = menu->addAction(text);
    makeMovie->setObjectName("makeMovie");
    // Once the menu has closed: what the handler shows (a box, a dialog) is not opened from
    // within the menu's own loop.
    connect(makeMovie, &QAction::triggered, this, [this, folder] {
        QTimer::singleShot(0, this, [this, folder] { makeMovie_(folder); });
    });
    return menu;
}

void CResourceWindow::ShowFolderMenu(const QPoint& position) {
    // The menu key opens the menu of the current item wherever the pointer is.
    QTreeWidgetItem* item = tree_->itemAt(position);
    if (item == nullptr) item = tree_->currentItem();
    std::unique_ptr<QMenu> menu(CreateFolderMenu(item));
    if (menu->isEmpty()) return;
    menu->exec(tree_->viewport()->mapToGlobal(position));
}

bool CResourceWindow::ExploreSelected() {
    return QDesktopServices::openUrl(LocalFileUrl(SelectedFolderPath()));
}

void CResourceWindow::RevealFile(const std::string& path) {
    QMetaObject::invokeMethod(
        this, "RevealOnUiThread",
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection,
        Q_ARG(QByteArray, QByteArray::fromStdString(path)));
}

void CResourceWindow::RevealOnUiThread(const QByteArray& savedPath) {
    const std::string path = savedPath.toStdString();
    // From the end: the file name, then the run, date and kind folders (dated layout) or
    // the kind folder alone.
    const bool dated = DatedLayout();
    const size_t folders = dated ? 3 : 1;
    if (static_cast<size_t>(std::count(path.begin(), path.end(), '/')) < folders + 1) return;
    std::vector<std::string> names;  // file name first
    size_t end = path.size();
    for (size_t i = 0; i <= folders; ++i) {
        const size_t slash = path.rfind('/', end - 1);
        names.push_back(path.substr(slash + 1, end - slash - 1));
        end = slash;
    }
    const std::string& file = names[0];
    const std::string a = names[folders];
    const std::string b = dated ? names[2] : "";
    const std::string c = dated ? names[1] : "";

    CResourcesBrowserDlg* dialog = ListDialog();
    const std::string browsedBefore = dialog != nullptr ? dialog->Model().GetBrowsedFolder() : "";
    if (!SelectFileFolder(a, b, c) || dialog == nullptr) return;
    CMediaFolderModel& model = dialog->Model();
    const std::string folder = BuildFolderPath(a, b, c);
    if (browsedBefore != folder) {
        // Selecting the folder may already have switched the strip to it, without
        // scrolling; the new file must still be in view.
        if (model.GetBrowsedFolder() == folder)
            dialog->ScrollToEnd();
        else
            model.SwitchFolder(folder, true);
    } else {
        // Pictures are renamed into place when complete, so the folder monitor may have
        // listed the file already; it is brought into view either way.
        if (!model.ContainsFile(file)) model.AppendFile(file);
        dialog->ScrollToEnd();
        dialog->RequestRepaint();
    }
}

bool CResourceWindow::SelectFileFolder(const std::string& a, const std::string& b,
                                       const std::string& c) {
    QTreeWidgetItem* top = tree_->topLevelItem(0);
    if (top == nullptr) return false;
    QTreeWidgetItem* item = FindChildItem(top, a);
    if (item == nullptr) return false;
    QTreeWidgetItem* target = item;
    if (!b.empty() && !c.empty()) {
        QTreeWidgetItem* dateItem = FindChildItem(item, b);
        if (dateItem == nullptr) dateItem = InsertChildItem(BuildFolderPath(a, b, ""), item, b);
        QTreeWidgetItem* runItem = FindChildItem(dateItem, c);
        if (runItem == nullptr) runItem = InsertChildItem(BuildFolderPath(a, b, c), dateItem, c);
        target = runItem;
    }
    for (QTreeWidgetItem* parent = target->parent(); parent != nullptr; parent = parent->parent())
        parent->setExpanded(true);
    tree_->scrollToItem(target);
    tree_->setCurrentItem(target);
    return true;
}
