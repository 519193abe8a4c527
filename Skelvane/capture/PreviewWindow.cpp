#include "Skelvane/capture/PreviewWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QThread>
#include <cmath>
#include <set>

#include "Skelvane/capture/PreviewGeometry.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/imaging/Imaging.h"
#include "platform/sys/Sys.h"

namespace {

constexpr int kPreviewHostId = 10000;
constexpr long kBytesPerShownPixel = 4;

// The preview hosts that exist now; touched on the UI thread only.
std::set<QWidget*>& LiveHosts() {
    static std::set<QWidget*> hosts;
    return hosts;
}

class CPreviewDisplayHost : public IVideoDisplayHost {
public:
    std::shared_ptr<IVideoDisplaySurface> CreateSurface(OAHWND owner) override {
        auto* host = reinterpret_cast<QWidget*>(owner);
        if (LiveHosts().count(host) == 0) return nullptr;
        // One renderer draws into a host at a time: the newest replaces the others.
        for (CVideoView* old : host->findChildren<CVideoView*>(Qt::FindDirectChildrenOnly))
            delete old;
        auto* view = new CVideoView(host);
        return view->Surface();
    }
};

bool OnUiThreadNow() {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace

CPreviewWindow::CPreviewWindow(QWidget* parent) : QWidget(parent) {
    host_ = new QWidget(this);
    host_->setObjectName(QString("previewHost%1").arg(kPreviewHostId));
    host_->setAccessibleName("Live picture");
    host_->setAutoFillBackground(true);
    QPalette black = host_->palette();
    black.setColor(QPalette::Window, Qt::black);
    host_->setPalette(black);
    LiveHosts().insert(host_);
    RefitHost();
}

CPreviewWindow::~CPreviewWindow() {
    LiveHosts().erase(host_);
}

OAHWND CPreviewWindow::HostHandle() const {
    return reinterpret_cast<OAHWND>(host_);
}

void CPreviewWindow::InstallDisplayHost() {
    SetVideoDisplayHost(std::make_shared<CPreviewDisplayHost>());
}

void CPreviewWindow::RefitHost() {
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    const HostRect rect =
        FitPreviewHost(width(), height(), current.captureWidth, current.captureHeight);
    host_->setGeometry(rect.left, rect.top, rect.width, rect.height);
}

void CPreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RefitHost();
    QEvent fit(static_cast<QEvent::Type>(UM_FIT_VIDEO));
    if (QWidget* mainWindow = window(); mainWindow != this)
        QCoreApplication::sendEvent(mainWindow, &fit);
}

CVideoSurface::CVideoSurface(CVideoView* view) : view_(view) {}

void CVideoSurface::Scale(const BYTE* bits, long width, long height, long stride, Frame& into) {
    long targetWidth = targetWidth_.load(std::memory_order_relaxed);
    long targetHeight = targetHeight_.load(std::memory_order_relaxed);
    // Before the view is placed, pictures keep the frame's size; the paint scales them.
    if (targetWidth <= 0 || targetHeight <= 0) {
        targetWidth = width;
        targetHeight = height;
    }
    into.bits.resize(static_cast<size_t>(targetWidth) * kBytesPerShownPixel * targetHeight);
    into.width = targetWidth;
    into.height = targetHeight;
    into.stride = targetWidth * kBytesPerShownPixel;
    const imaging::BgrImageView frame{bits, static_cast<int>(width), static_cast<int>(height),
                                      static_cast<int>(stride), true};
    imaging::DrawBilinearRgb32(frame, into.bits.data(), static_cast<int>(targetWidth),
                               static_cast<int>(targetHeight), static_cast<int>(into.stride));
}

void CVideoSurface::ShowFrame(const BYTE* bits, long width, long height, long stride) {
    if (bits == nullptr || width <= 0 || height <= 0 || stride < width * 3) return;
    Frame next;
    {
        std::lock_guard<std::mutex> lock(lock_);
        std::swap(next, spare_);
    }
    // The work happens here, on the streaming thread, outside the lock.
    Scale(bits, width, height, stride, next);
    std::lock_guard<std::mutex> lock(lock_);
    std::swap(next, pending_);
    std::swap(next, spare_);
    fresh_ = true;
    // One repaint request at a time: a slow UI skips frames instead of queueing them.
    // The slot is named rather than wrapped in a closure, so no object of ours crosses Qt's
    // event queue, whose locks ThreadSanitizer cannot see.
    if (view_ != nullptr && !repaintAsked_) {
        repaintAsked_ = true;
        QMetaObject::invokeMethod(view_, "update", Qt::QueuedConnection);
    }
}

bool CVideoSurface::TakeNewest(Frame& into) {
    std::lock_guard<std::mutex> lock(lock_);
    repaintAsked_ = false;
    if (!fresh_) return false;
    std::swap(into, pending_);
    fresh_ = false;
    return true;
}

void CVideoSurface::Detach() {
    std::lock_guard<std::mutex> lock(lock_);
    view_ = nullptr;
}

void CVideoSurface::OnUiThread(std::function<void(CVideoView*)> work) {
    std::lock_guard<std::mutex> lock(lock_);
    if (view_ == nullptr) return;
    CVideoView* view = view_;
    if (OnUiThreadNow()) {
        work(view);
    } else {
        QMetaObject::invokeMethod(
            view, [view, work] { work(view); }, Qt::QueuedConnection);
    }
}

void CVideoSurface::SetGeometry(long left, long top, long width, long height) {
    OnUiThread([=, this](CVideoView* view) {
        view->setGeometry(static_cast<int>(left), static_cast<int>(top), static_cast<int>(width),
                          static_cast<int>(height));
        // Pictures are made at the size they are drawn, in device pixels.
        const qreal ratio = view->devicePixelRatioF();
        targetWidth_.store(std::lround(width * ratio), std::memory_order_relaxed);
        targetHeight_.store(std::lround(height * ratio), std::memory_order_relaxed);
    });
}

void CVideoSurface::SetVisible(bool visible) {
    OnUiThread([visible](CVideoView* view) { view->setVisible(visible); });
}

CVideoView::CVideoView(QWidget* host)
    : QWidget(host), surface_(std::make_shared<CVideoSurface>(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName("Live picture");
    hide();
}

CVideoView::~CVideoView() {
    surface_->Detach();
}

void CVideoView::paintEvent(QPaintEvent*) {
    surface_->TakeNewest(shown_);
    QPainter painter(this);
    if (shown_.bits.empty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    QImage picture(shown_.bits.data(), static_cast<int>(shown_.width),
                   static_cast<int>(shown_.height), static_cast<qsizetype>(shown_.stride),
                   QImage::Format_RGB32);
    picture.setDevicePixelRatio(devicePixelRatioF());
    if (picture.deviceIndependentSize().toSize() == size()) {
        painter.drawImage(0, 0, picture);
        return;
    }
    // Drawn once at another size, until the next frame comes at the new one.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), picture);
}
