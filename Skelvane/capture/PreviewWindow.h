// The live pane: a preview host kept at the capture size's aspect ratio, in which the
// video renderer's pictures are drawn.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/DShow.h"

class CVideoView;

class CPreviewWindow : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewWindow(QWidget* parent = nullptr);
    ~CPreviewWindow() override;

    // The owner handle the capture graph's video window is given.
    OAHWND HostHandle() const;
    QWidget* PreviewHost() const { return host_; }
    // Moves the host to fit the current capture size, without telling the main window.
    void RefitHost();

    // Makes the renderers of every graph draw into the preview hosts; once per process.
    static void InstallDisplayHost();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* host_ = nullptr;
};

// The pictures one video renderer shows. The streaming thread turns each frame upright,
// scales it to the view's size (bilinear, as the painter's smooth drawing) and converts it
// to the screen's 32-bit pixels in one pass,
// then swaps it in under a short lock; the UI thread only copies the newest to the screen
// when it paints, so neither waits for the other and no half-written picture is drawn.
// Three pictures take turns (being written, waiting, shown): no allocation per frame.
class CVideoSurface : public IVideoDisplaySurface {
public:
    explicit CVideoSurface(CVideoView* view);
    void ShowFrame(const BYTE* bits, long width, long height, long stride) override;
    void SetGeometry(long left, long top, long width, long height) override;
    void SetVisible(bool visible) override;

    // For the view: swaps the newest picture in; false when there is none. Pictures are
    // top row first, 4 bytes a pixel (QImage::Format_RGB32).
    struct Frame {
        std::vector<BYTE> bits;
        long width = 0, height = 0, stride = 0;
    };
    bool TakeNewest(Frame& into);
    void Detach();

private:
    void OnUiThread(std::function<void(CVideoView*)> work);
    // Writes the bottom-up BGR24 frame into `into`, upright, at the view's size.
    void Scale(const BYTE* bits, long width, long height, long stride, Frame& into);

    // The view's size in device pixels, set on the UI thread with its geometry.
    std::atomic<long> targetWidth_{0};
    std::atomic<long> targetHeight_{0};

    std::mutex lock_;
    CVideoView* view_;  // cleared under the lock when the view goes
    Frame spare_;       // the next picture is written into this one
    Frame pending_;
    bool fresh_ = false;
    bool repaintAsked_ = false;
};

class CVideoView : public QWidget {
    Q_OBJECT
public:
    explicit CVideoView(QWidget* host);
    ~CVideoView() override;
    std::shared_ptr<CVideoSurface> Surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<CVideoSurface> surface_;
    CVideoSurface::Frame shown_;
};
