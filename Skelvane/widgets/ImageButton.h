// A push button that shows one picture, scaled to fit with its proportions kept and
// centred, and no caption. Its text lives in the tooltip, which is also its accessible
// name. Mouse movement over a button with a picture is reported to whoever asked, in the
// parent's coordinates, before the button's own hover handling.
#pragma once

#include <functional>

#include "Skelvane/widgets/PictureButton.h"

class CXPStyleButtonST : public CPictureButton {
    Q_OBJECT
public:
    explicit CXPStyleButtonST(QWidget* parent = nullptr);

    void SetTooltipText(const QString& text);
    void SetHoverReport(std::function<void(const QPoint& inParent)> report) {
        hoverReport_ = std::move(report);
    }

    // Where the picture is drawn inside `area`: the largest rectangle of the picture's
    // proportions that fits, centred.
    static QRect FitPicture(const QSize& picture, const QRect& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    std::function<void(const QPoint&)> hoverReport_;
};
