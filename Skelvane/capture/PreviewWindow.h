// The live pane: a preview host kept at the capture size's aspect ratio, in which the
// video renderer's pictures are drawn.
#pragma once

#include <QPointer>
#include <QWidget>
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

// The pictures one video renderer shows. The streaming thread hands each frame over
// with one copy under a short lock; the UI thread draws the newest frame when it paints,
// so neither waits for the other and no half-copied frame is ever drawn.
class CVideoSurface : public IVideoDisplaySurface {
public:
    explicit CVideoSurface(CVideoView* view);
    void ShowFrame(const BYTE* bits, long width, long height, long stride) override;
    void SetGeometry(long left, long top, long width, long height) override;
    void SetVisible(bool visible) override;

    // For the view: swaps the newest frame in; false when there is none.
    struct Frame {
        std::vector<BYTE> bits;
        long width = 0, height = 0, stride = 0;
    };
    bool TakeNewest(Frame& into);
    void Detach();

private:
    void OnUiThread(std::function<void(CVideoView*)> work);

    std::mutex lock_;
    CVideoView* view_;  // cleared under the lock when the view goes
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
