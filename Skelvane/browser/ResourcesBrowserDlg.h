// The media list: a vertical strip of thumbnails, one 110-pixel slot per picture or movie
// of the browsed folder, drawn from the folder model. Thumbnails are decoded off the UI
// thread into a bounded cache; a slot whose thumbnail is not ready yet shows a plain frame.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QRect>
#include <QScrollBar>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Skelvane/browser/MediaFolderModel.h"
#include "Skelvane/browser/ThumbnailCache.h"

class CResourcesBrowserDlg : public QDialog, public IMediaListView {
    Q_OBJECT
public:
    static constexpr int kSlotHeight = 110;
    static constexpr int kBoxHeight = 100;
    static constexpr int kFirstBoxTop = 10;

    // The scroll bar's design numbers: positions 0 to `maximum`, `page` pixels visible.
    struct ScrollRange {
        int maximum = 0;
        int page = 0;
    };

    // The model watches the media root of the current settings.
    explicit CResourcesBrowserDlg(QWidget* parent = nullptr);
    // The model's root and change source, and the thumbnail cache's limit, given by tests.
    CResourcesBrowserDlg(QWidget* parent, CMediaFolderModel::MediaRootSource mediaRoot,
                         CMediaFolderModel::ChangeSourceFactory openChanges,
                         size_t thumbnailByteLimit = CThumbnailCache::kDefaultByteLimit);
    ~CResourcesBrowserDlg() override;

    CMediaFolderModel& Model() { return *model_; }

    // Called from any thread; work for the window runs on the UI thread, at once when
    // called there, else posted in calling order.
    void UpdateScrollRange() override;
    void KeepScrollFromEnd() override;
    void ScrollToEnd() override;
    void RequestRepaint() override;

    ScrollRange Range() const { return range_; }
    QScrollBar* ScrollBar() const { return scrollBar_; }
    QRect DrawingArea() const;
    // Where each slot's thumbnail was drawn by the last paint, by slot number.
    const std::map<int, QRect>& ItemRects() const { return itemRects_; }
    int32_t FirstVisible() const { return firstVisible_; }
    // Slots the last paint drew as plain frames because their thumbnails were not ready.
    int PendingSlots() const { return pendingSlots_; }
    // The file names of the slots drawn by the last paint, in slot order.
    const std::map<int, QString>& SlotNames() const { return slotNames_; }
    // Opens the file of a drawn slot with the desktop's handler; false when the slot
    // is not drawn. A file that cannot be opened gives a warning box.
    bool OpenSlot(int slot);
    // The same for the entry at `position` of the list; false beyond its end.
    bool OpenEntry(size_t position);
    // The file name of the entry at `position`; empty beyond the end of the list.
    QString EntryName(size_t position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void ApplyUpdateScrollRange();
    void ApplyKeepScrollFromEnd();
    void ApplyScrollToEnd();

private:
    // Calls the slot at once on the UI thread, else posts it. Only the slot's name crosses
    // threads, so nothing of ours travels through Qt's queue.
    void OnUiThread(const char* slot);
    void SetRange(int maximum, int page, int position);
    void ScrollBy(int delta);
    void DrawThumbnails();
    bool DrawThumbnail(class QPainter& painter, int slot, int y, int width,
                       const std::string& path);
    void AnnounceSlots();

    QScrollBar* scrollBar_;
    int32_t firstVisible_ = 0;
    std::map<int, QRect> itemRects_;
    std::map<int, QString> slotNames_;
    int pendingSlots_ = 0;
    ScrollRange range_;
    QPixmap movieBadge_;
    // Declared last: the model's threads and the decoder stop first on destruction.
    CThumbnailCache thumbnails_;
    std::unique_ptr<CMediaFolderModel> model_;
};
