#include "Skelvane/capture/DevicePropertiesDialog.h"

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "Skelvane/settings/LocalizableString.h"
#include "platform/sys/Sys.h"

CDevicePropertiesDialog::CDevicePropertiesDialog(ICameraControls* controls, QWidget* parent)
    : QDialog(parent), controls_(controls) {
    setWindowTitle("Skelvane");
    setAccessibleName("Skelvane");
    controls_->GetIdentity(&identity_);
    auto* form = new QFormLayout;
    controls_->GetControls(&list_);
    for (const v4l2::ControlInfo& control : list_) {
        const QString name = QString::fromStdString(control.name);
        const uint32_t id = control.id;
        auto value = [this, id, fallback = control.defaultValue] {
            int32_t current = fallback;
            controls_->GetValue(id, &current);
            return current;
        };
        auto set = [this, id](int newValue) { SetControl(id, newValue); };
        QWidget* editor = nullptr;
        switch (control.type) {
            case V4L2_CTRL_TYPE_BOOLEAN: {
                auto* box = new QCheckBox;
                showCurrent_.push_back([box, value] {
                    const QSignalBlocker quiet(box);
                    box->setChecked(value() != 0);
                });
                connect(box, &QCheckBox::toggled, this, [set](bool on) { set(on ? 1 : 0); });
                editor = box;
                break;
            }
            case V4L2_CTRL_TYPE_MENU:
            case V4L2_CTRL_TYPE_INTEGER_MENU: {
                auto* box = new QComboBox;
                for (const auto& [entryValue, text] : control.menu)
                    box->addItem(QString::fromStdString(text), entryValue);
                showCurrent_.push_back([box, value] {
                    const QSignalBlocker quiet(box);
                    if (const int index = box->findData(value()); index >= 0)
                        box->setCurrentIndex(index);
                });
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
                slider->setAccessibleName(name);
                number->setRange(control.minimum, control.maximum);
                number->setSingleStep(std::max(1, control.step));
                number->setAccessibleName(name);
                showCurrent_.push_back([slider, number, value] {
                    const QSignalBlocker quietSlider(slider), quietNumber(number);
                    const int current = value();
                    slider->setValue(current);
                    number->setValue(current);
                });
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
    for (const auto& show : showCurrent_) show();

    auto* defaults = new QPushButton(QString::fromStdString(
        GetLocalizedString("ui_property_btn_camera_defaults", "Camera defaults")));
    defaults->setAccessibleName(defaults->text());
    defaults->setAutoDefault(false);
    connect(defaults, &QPushButton::clicked, this, &CDevicePropertiesDialog::RestoreDefaults);
    auto* close = new QPushButton(tr("OK"));
    close->setAccessibleName(close->text());
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

void CDevicePropertiesDialog::SetControl(uint32_t id, int value) {
    if (FAILED(controls_->SetValue(id, value))) return;
    for (const v4l2::ControlInfo& control : list_)
        if (control.id == id && IsRememberable(control)) changed_[id] = value;
}

void CDevicePropertiesDialog::RestoreDefaults() {
    ControlValues defaults;
    for (const v4l2::ControlInfo& control : list_)
        if (IsRememberable(control)) defaults[control.id] = control.defaultValue;
    SetControlValues(*controls_, identity_, defaults);
    changed_.clear();
    ForgetControls(identity_);
    for (const auto& show : showCurrent_) show();
}

void CDevicePropertiesDialog::done(int result) {
    // Closed by OK, Escape or the window's close button alike: what the camera shows now is
    // what the user chose.
    if (!changed_.empty() && !RememberControls(identity_, changed_))
        sys::DebugTraceF("camera %s: the changed controls could not be remembered",
                         identity_.c_str());
    changed_.clear();
    QDialog::done(result);
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
