#include "Skelvane/browser/ResourcesBrowserDlg.h"

#include <sys/stat.h>
#include <QAccessible>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QWheelEvent>

#include <algorithm>
#include <cerrno>

#include "Skelvane/browser/FileUrl.h"
#include "Skelvane/browser/StripAccessible.h"
#include "Skelvane/settings/InstallFolder.h"
#include "platform/sys/Sys.h"

namespace {

constexpr int kScrollBarId = 1078;
constexpr int kBadgeSize = 32;
// The dialog template's size in dialog units: 163 x 256.
constexpr int kTemplateWidth = 245;
constexpr int kTemplateHeight = 416;
// The shell's text when no program is registered for a file.
constexpr char kNoAssociation[] =
    "No application is associated with the specified file for this operation.";

// The strip's height in pixels: entries x 110, held inside the bar's integer range.
int StripLength(CMediaFolderModel& model) {
    constexpr size_t most = INT32_MAX / CResourcesBrowserDlg::kSlotHeight;
    return static_cast<int>(std::min(model.GetFileCount(), most)) *
           CResourcesBrowserDlg::kSlotHeight;
}

}  // namespace

CResourcesBrowserDlg::CResourcesBrowserDlg(QWidget* parent)
    : CResourcesBrowserDlg(parent, CMediaFolderModel::CurrentMediaRoot,
                           CMediaFolderModel::WatchTree) {}

CResourcesBrowserDlg::CResourcesBrowserDlg(QWidget* parent,
                                           CMediaFolderModel::MediaRootSource mediaRoot,
                                           CMediaFolderModel::ChangeSourceFactory openChanges,
                                           size_t thumbnailByteLimit)
    : QDialog(parent, Qt::Widget),
      scrollBar_(new QScrollBar(Qt::Vertical, this)),
      movieBadge_(QString::fromStdString(GetInstallFolder()) + "Resource/Image/MovieBadge.png"),
      thumbnails_([this] { RequestRepaint(); }, thumbnailByteLimit) {
    InstallStripAccessibility();
    setObjectName("CResourcesBrowserDlg");
    setAccessibleName("Resources");
    setFocusPolicy(Qt::ClickFocus);
    // Every pixel is painted by the strip itself: no separate background erase.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(kTemplateWidth, kTemplateHeight);
    scrollBar_->setObjectName(QString("scrollBar%1").arg(kScrollBarId));
    scrollBar_->setSingleStep(kSlotHeight);
    scrollBar_->hide();
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this] { update(); });
    model_ =
        std::make_unique<CMediaFolderModel>(*this, std::move(mediaRoot), std::move(openChanges));
}

CResourcesBrowserDlg::~CResourcesBrowserDlg() {
    // The model's threads call back into this window; they end before anything else goes.
    model_.reset();
}

void CResourcesBrowserDlg::OnUiThread(const char* slot) {
    QMetaObject::invokeMethod(
        this, slot,
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
}

QRect CResourcesBrowserDlg::DrawingArea() const {
    // Up to the bar's left edge, whether or not the bar is shown.
    return QRect(0, 0, std::max(0, width() - scrollBar_->width()), height());
}

void CResourcesBrowserDlg::SetRange(int maximum, int page, int position) {
    range_ = {maximum, page};
    // The bar's last position shows the last page: the design's range minus the page.
    const int last = std::max(0, maximum - page + 1);
    const QSignalBlocker quiet(scrollBar_);
    scrollBar_->setRange(0, last);
    scrollBar_->setPageStep(std::max(page, 1));
    scrollBar_->setValue(std::clamp(position, 0, last));
    const bool show = DrawingArea().height() < maximum;
    if (show != scrollBar_->isVisible()) {
        scrollBar_->setVisible(show);
        update();
    }
}

void CResourcesBrowserDlg::UpdateScrollRange() {
    OnUiThread("ApplyUpdateScrollRange");
}
void CResourcesBrowserDlg::KeepScrollFromEnd() {
    OnUiThread("ApplyKeepScrollFromEnd");
}
void CResourcesBrowserDlg::ScrollToEnd() {
    OnUiThread("ApplyScrollToEnd");
}
void CResourcesBrowserDlg::RequestRepaint() {
    OnUiThread("update");
}

void CResourcesBrowserDlg::ApplyUpdateScrollRange() {
    SetRange(StripLength(*model_), height(), 0);
}

void CResourcesBrowserDlg::ApplyKeepScrollFromEnd() {
    const int maximum = StripLength(*model_);
    const int position = scrollBar_->value() + maximum - range_.maximum;
    SetRange(maximum, height(), std::clamp(position, 0, maximum));
}

void CResourcesBrowserDlg::ApplyScrollToEnd() {
    const int maximum = StripLength(*model_);
    SetRange(maximum, DrawingArea().height(), maximum);
}

void CResourcesBrowserDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int barWidth = scrollBar_->sizeHint().width();
    scrollBar_->setGeometry(width() - barWidth, 0, barWidth, height());
    UpdateScrollRange();
}

void CResourcesBrowserDlg::ScrollBy(int delta) {
    scrollBar_->setValue(scrollBar_->value() + delta);  // the bar limits it
    update();
}

void CResourcesBrowserDlg::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta != 0) ScrollBy(delta < 0 ? kSlotHeight : -kSlotHeight);
    event->accept();
}

void CResourcesBrowserDlg::keyPressEvent(QKeyEvent* event) {
    // The strip is a child pane: Enter and Escape must not close it.
    switch (event->key()) {
        case Qt::Key_Down:
            ScrollBy(kSlotHeight);
            break;
        case Qt::Key_Up:
            ScrollBy(-kSlotHeight);
            break;
        case Qt::Key_PageDown:
            ScrollBy(range_.page);
            break;
        case Qt::Key_PageUp:
            ScrollBy(-range_.page);
            break;
        default:
            event->ignore();
            return;
    }
    event->accept();
}

void CResourcesBrowserDlg::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);  // so the wheel reaches the strip
    QDialog::mousePressEvent(event);
}

void CResourcesBrowserDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint point = event->position().toPoint();
        for (const auto& [slot, rect] : itemRects_) {
            if (rect.contains(point)) {
                OpenSlot(slot);
                break;
            }
        }
    }
    QDialog::mouseDoubleClickEvent(event);
}

bool CResourcesBrowserDlg::OpenSlot(int slot) {
    return itemRects_.contains(slot) && OpenEntry(static_cast<size_t>(firstVisible_ + slot));
}

QString CResourcesBrowserDlg::EntryName(size_t position) {
    return DisplayFileName(model_->GetItemPath(position));
}

bool CResourcesBrowserDlg::OpenEntry(size_t position) {
    const std::string path = model_->GetItemPath(position);
    if (path.empty()) return false;
    if (!QDesktopServices::openUrl(LocalFileUrl(path))) {
        struct stat info {};
        sys::WarningBox(stat(path.c_str(), &info) != 0 ? sys::ErrnoText(errno) : kNoAssociation);
    }
    return true;
}

void CResourcesBrowserDlg::paintEvent(QPaintEvent*) {
    // Qt's backing store is the off-screen bitmap: the strip reaches the screen in one copy.
    DrawThumbnails();
}

void CResourcesBrowserDlg::DrawThumbnails() {
    const QRect area = DrawingArea();
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    itemRects_.clear();
    pendingSlots_ = 0;
    std::map<int, QString> names;
    thumbnails_.BeginPaint();
    const int slotCount = area.height() / kSlotHeight + 1;
    const int position = scrollBar_->value();
    firstVisible_ = position / kSlotHeight;
    int y = firstVisible_ * kSlotHeight - position + kFirstBoxTop;
    for (int slot = 0; slot < slotCount; ++slot) {
        const std::string path = model_->GetItemPath(static_cast<size_t>(firstVisible_ + slot));
        if (path.empty() || !DrawThumbnail(painter, slot, y, area.width(), path)) continue;
        names[slot] = DisplayFileName(path);
        y += kSlotHeight;
    }
    if (names != slotNames_) {
        slotNames_ = std::move(names);
        AnnounceSlots();
    }
}

bool CResourcesBrowserDlg::DrawThumbnail(QPainter& painter, int slot, int y, int width,
                                         const std::string& path) {
    const CThumbnailCache::Lookup found = thumbnails_.Find(path, width);
    if (found.state == CThumbnailCache::State::Failed) return false;
    if (found.state == CThumbnailCache::State::Pending) {
        // Not decoded yet: the whole box as a plain frame.
        const QRect box(0, y, width, kBoxHeight);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        itemRects_[slot] = box;
        ++pendingSlots_;
        return true;
    }
    const imaging::BgrBitmap& picture = found.thumbnail->picture;
    // Decoded at the size it is drawn: centred in the box.
    const QRect drawn((width - picture.width) / 2, y + (kBoxHeight - picture.height) / 2,
                      picture.width, picture.height);
    const QImage image(picture.pixels.data(), picture.width, picture.height, picture.width * 3,
                       QImage::Format_BGR888);
    painter.drawImage(drawn, image);
    itemRects_[slot] = drawn;
    if (found.thumbnail->movie)
        painter.drawPixmap(QRect(drawn.topLeft(), QSize(kBadgeSize, kBadgeSize)), movieBadge_);
    return true;
}

void CResourcesBrowserDlg::AnnounceSlots() {
    if (!QAccessible::isActive()) return;
    QAccessibleEvent reorder(this, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&reorder);
}
