#include "Skelvane/capture/DevicePropertiesDialog.h"

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/v4l2/CameraFilter.h"

CDevicePropertiesDialog::CDevicePropertiesDialog(ICameraControls* controls, QWidget* parent)
    : QDialog(parent), controls_(controls) {
    setWindowTitle("Skelvane");
    setAccessibleName("Skelvane");
    auto* form = new QFormLayout;
    std::vector<v4l2::ControlInfo> list;
    controls_->GetControls(&list);
    for (const v4l2::ControlInfo& control : list) {
        const QString name = QString::fromStdString(control.name);
        int32_t value = control.defaultValue;
        controls_->GetValue(control.id, &value);
        const uint32_t id = control.id;
        auto set = [this, id](int newValue) { controls_->SetValue(id, newValue); };
        QWidget* editor = nullptr;
        switch (control.type) {
            case V4L2_CTRL_TYPE_BOOLEAN: {
                auto* box = new QCheckBox;
                box->setChecked(value != 0);
                connect(box, &QCheckBox::toggled, this, [set](bool on) { set(on ? 1 : 0); });
                editor = box;
                break;
            }
            case V4L2_CTRL_TYPE_MENU:
            case V4L2_CTRL_TYPE_INTEGER_MENU: {
                auto* box = new QComboBox;
                for (const auto& [entryValue, text] : control.menu) {
                    box->addItem(QString::fromStdString(text), entryValue);
                    if (entryValue == value) box->setCurrentIndex(box->count() - 1);
                }
                connect(box, &QComboBox::activated, this,
                        [box, set](int index) { set(box->itemData(index).toInt()); });
                editor = box;
                break;
            }
            case V4L2_CTRL_TYPE_BUTTON: {
                auto* button = new QPushButton(name);
                connect(button, &QPushButton::clicked, this, [set] { set(1); });
                editor = button;
                break;
            }
            default: {
                auto* row = new QWidget;
                auto* slider = new QSlider(Qt::Horizontal);
                auto* number = new QSpinBox;
                slider->setRange(control.minimum, control.maximum);
                slider->setSingleStep(std::max(1, control.step));
                slider->setValue(value);
                slider->setAccessibleName(name);
                number->setRange(control.minimum, control.maximum);
                number->setSingleStep(std::max(1, control.step));
                number->setValue(value);
                number->setAccessibleName(name);
                connect(slider, &QSlider::valueChanged, number, &QSpinBox::setValue);
                connect(number, &QSpinBox::valueChanged, slider, &QSlider::setValue);
                connect(number, &QSpinBox::valueChanged, this, set);
                auto* layout = new QHBoxLayout(row);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->addWidget(slider, 1);
                layout->addWidget(number);
                editor = row;
                break;
            }
        }
        editor->setAccessibleName(name);
        editor->setEnabled((control.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_INACTIVE)) ==
                           0);
        form->addRow(name, editor);
    }
    auto* close = new QPushButton(tr("OK"));
    close->setAccessibleName(close->text());
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(close, 0, Qt::AlignRight);
}

void CDevicePropertiesDialog::ShowPages(IBaseFilter* device, const CAUUID& pages, QWidget* parent) {
    bool named = false;
    for (ULONG i = 0; i < pages.cElems; ++i)
        named = named || pages.pElems[i] == CLSID_CameraControlsPage;
    CComPtr<ICameraControls> controls;
    if (!named || device == nullptr ||
        FAILED(device->QueryInterface(IID_ICameraControls, reinterpret_cast<void**>(&controls))))
        return;
    CDevicePropertiesDialog dialog(controls, parent);
    dialog.move(500, 600);
    dialog.exec();
}
