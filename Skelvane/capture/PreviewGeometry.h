// Where the preview host sits inside the live pane: as large as fits with the capture
// size's aspect ratio, centred.
#pragma once

struct HostRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const HostRect&) const = default;
};

// Before a capture size is known the host fills the pane.
inline HostRect FitPreviewHost(int paneWidth, int paneHeight, int captureWidth, int captureHeight) {
    if (captureWidth <= 0 || captureHeight <= 0 || paneWidth <= 0 || paneHeight <= 0)
        return HostRect{0, 0, paneWidth > 0 ? paneWidth : 0, paneHeight > 0 ? paneHeight : 0};
    const double ratio = static_cast<double>(captureHeight) / captureWidth;
    int width = paneWidth, height = paneHeight;
    if (static_cast<double>(paneHeight) / paneWidth > ratio)
        height = static_cast<int>(ratio * paneWidth);
    else
        width = static_cast<int>(paneHeight / ratio);
    return HostRect{(paneWidth - width) / 2, (paneHeight - height) / 2, width, height};
}
