#include "Skelvane/widgets/IPAddressCtrl.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace {
constexpr int kOctetDigits = 3;
}

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QFrame(parent) {
    // Looks like one edit: the frame and base colour of a line edit around borderless boxes.
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    const QRegularExpression octet("25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9]|");
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(".", this);
            dot->setBackgroundRole(QPalette::Base);
            layout->addWidget(dot);
        }
        auto* box = new QLineEdit(this);
        box->setFrame(false);
        box->setAlignment(Qt::AlignCenter);
        box->setMaxLength(kOctetDigits);
        box->setValidator(new QRegularExpressionValidator(octet, box));
        box->setAccessibleName(QString("Octet %1").arg(i + 1));
        box->installEventFilter(this);
        connect(box, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.size() == kOctetDigits && i < 3) FocusOctet(i + 1, false);
        });
        layout->addWidget(box, 1);
        octets_[i] = box;
    }
    setFocusProxy(octets_[0]);
}

uint32_t CIPAddressCtrl::Address() const {
    uint32_t address = 0;
    for (const QLineEdit* box : octets_) address = (address << 8) | (box->text().toUInt() & 0xFF);
    return address;
}

void CIPAddressCtrl::SetAddress(uint32_t address) {
    for (int i = 0; i < 4; ++i)
        octets_[i]->setText(QString::number((address >> (8 * (3 - i))) & 0xFF));
}

void CIPAddressCtrl::FocusOctet(int position, bool atEnd) {
    QLineEdit* box = octets_[position];
    box->setFocus(Qt::OtherFocusReason);
    if (atEnd) {
        box->end(false);
    } else {
        box->selectAll();
    }
}

bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
    int position = -1;
    for (int i = 0; i < 4; ++i)
        if (octets_[i] == watched) position = i;
    if (position < 0) return QFrame::eventFilter(watched, event);
    const QLineEdit* box = octets_[position];
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool atStart = box->cursorPosition() == 0 && !box->hasSelectedText();
    const bool atEnd = box->cursorPosition() == box->text().size() && !box->hasSelectedText();
    switch (key->key()) {
        case Qt::Key_Period:
            if (position < 3 && !box->text().isEmpty()) FocusOctet(position + 1, false);
            return true;
        case Qt::Key_Backspace:
        case Qt::Key_Left:
            if (atStart && position > 0) {
                FocusOctet(position - 1, true);
                return true;
            }
            break;
        case Qt::Key_Right:
            if (atEnd && position < 3) {
                FocusOctet(position + 1, false);
                return true;
            }
            break;
        default:
            break;
    }
    return QFrame::eventFilter(watched, event);
}
