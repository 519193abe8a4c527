#include "tools/vcam/NoticePicture.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstring>

#include "platform/v4l2/LoopbackCamera.h"

namespace vcam {

std::vector<uint8_t> RenderNoticePicture(int width, int height, const std::string& endpoint) {
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor(kNoticeBackground[0], kNoticeBackground[1], kNoticeBackground[2]));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setPen(QColor(230, 230, 230));
        QFont font = painter.font();
        // Readable in a video call's small tile as in a full window.
        font.setPixelSize(std::max(12, height / 16));
        painter.setFont(font);
        const QString text = QString::fromUtf8(v4l2::kWirelessCameraLabel) + "\n\n" +
                             "No picture from the camera\n" + "Trying " +
                             QString::fromStdString(endpoint);
        painter.drawText(image.rect().adjusted(width / 20, 0, -width / 20, 0),
                         Qt::AlignCenter | Qt::TextWordWrap, text);
    }
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row)
        std::memcpy(rgb.data() + static_cast<size_t>(row) * width * 3, image.constScanLine(row),
                    static_cast<size_t>(width) * 3);
    return rgb;
}

}  // namespace vcam
