// An IPv4 address field: four octet boxes in one frame, separated by dots. Each box takes
// 0 to 255; three digits or a "." move on to the next box, Backspace in an empty box and
// the arrow keys at a box's edge move between boxes. An empty box counts as 0.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

class CIPAddressCtrl : public QFrame {
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);

    // a.b.c.d as (a << 24) | (b << 16) | (c << 8) | d.
    uint32_t Address() const;
    void SetAddress(uint32_t address);
    QLineEdit* Octet(int position) const { return octets_[position]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FocusOctet(int position, bool atEnd);

    std::array<QLineEdit*, 4> octets_{};
};
