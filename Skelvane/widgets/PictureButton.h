// What the owner-drawn buttons share: a picture loaded from a file, no default-button
// behaviour, and the style's bevel under what the button draws itself.
#pragma once

#include <QPixmap>
#include <QPushButton>

class QStyleOptionButton;
class QStylePainter;

class CPictureButton : public QPushButton {
    Q_OBJECT

public:
    explicit CPictureButton(QWidget* parent = nullptr);

    // A file that cannot be loaded leaves the button without a picture; it still works.
    void SetPicture(const QString& path);
    bool HasPicture() const { return !picture_.isNull(); }

protected:
    const QPixmap& Picture() const { return picture_; }
    // Fills `option` with the button's state and draws its bevel without the text and icon,
    // which the button draws its own way.
    void DrawBevel(QStylePainter& painter, QStyleOptionButton& option);

private:
    QPixmap picture_;
};
