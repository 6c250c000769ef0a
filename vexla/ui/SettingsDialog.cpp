// The settings dialog's layout and behaviour.
#include "vexla/ui/SettingsDialog.h"

#include "vexla/controls/Controls.h"
#include "vexla/ui/DialogUnits.h"

#include <cstddef>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace vexla {

int SettingsDialog::latencyMilliseconds(int latencyFrames) {
    // 1000 / 44100 held in single precision, as the display has always computed it.
    constexpr float kMillisecondsPerFrame = 0.022675738f;
    return static_cast<int>(static_cast<float>(latencyFrames) * kMillisecondsPerFrame +
                            static_cast<float>(kMixBufferMilliseconds));
}

SettingsDialog::SettingsDialog(const AudioSettings& current, const std::vector<std::string>& devices,
                               QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      working_(current) {
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(QStringLiteral("- Vexla - Settings"));
    const DialogUnits du(font());
    setFixedSize(du.x(220), du.y(128));

    auto* deviceLabel = new QLabel(QStringLiteral("Device"), this);
    deviceLabel->setGeometry(du.rect(8, 10, 36, 10));
    deviceList_ = new QComboBox(this);
    deviceList_->setObjectName(QStringLiteral("deviceList"));
    deviceList_->setAccessibleName(QStringLiteral("Device"));
    deviceList_->setGeometry(du.rect(46, 8, 166, 14));
    deviceLabel->setBuddy(deviceList_);

    auto* latencyLabel = new QLabel(QStringLiteral("Latency"), this);
    latencyLabel->setGeometry(du.rect(8, 32, 36, 10));
    latencySlider_ = new QSlider(Qt::Horizontal, this);
    latencySlider_->setObjectName(QStringLiteral("latencySlider"));
    latencySlider_->setAccessibleName(QStringLiteral("Latency"));
    latencySlider_->setGeometry(du.rect(46, 30, 126, 14));
    latencySlider_->setSingleStep(64);
    latencySlider_->setPageStep(1024);
    latencyLabel->setBuddy(latencySlider_);
    latencyDisplay_ = new QLabel(QStringLiteral("---"), this);
    latencyDisplay_->setObjectName(QStringLiteral("latencyDisplay"));
    // Named by its text, which changes with the slider; the description says what it is.
    latencyDisplay_->setAccessibleDescription(QStringLiteral("Latency in milliseconds"));
    latencyDisplay_->setGeometry(du.rect(176, 32, 36, 10));

    const Control& dc = *findControl("dcFilter");
    dcFilterBox_ = new QCheckBox(QString::fromUtf8(dc.caption), this);
    dcFilterBox_->setObjectName(QString::fromUtf8(dc.objectName));
    dcFilterBox_->setAccessibleName(QString::fromUtf8(dc.caption));
    dcFilterBox_->setGeometry(du.rect(dc.look.x, dc.look.y, dc.look.width, dc.look.height));

    auto* clockLabel = new QLabel(QStringLiteral("Clock"), this);
    clockLabel->setGeometry(du.rect(8, 66, 36, 10));
    clockList_ = new QComboBox(this);
    clockList_->setObjectName(QStringLiteral("clockList"));
    clockList_->setAccessibleName(QStringLiteral("Clock"));
    clockList_->setGeometry(du.rect(46, 64, 90, 14));
    clockLabel->setBuddy(clockList_);
    for (const common::ClockSourceName& name : common::kClockSources)
        clockList_->addItem(
            QString::fromUtf8(name.caption.data(), static_cast<qsizetype>(name.caption.size())));
    clockList_->setCurrentIndex(static_cast<int>(working_.clockSource));
    connect(clockList_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            working_.clockSource = common::kClockSources[static_cast<std::size_t>(index)].source;
    });

    autoConnectBox_ = new QCheckBox(QStringLiteral("Connect JACK outputs to the speakers"), this);
    autoConnectBox_->setObjectName(QStringLiteral("autoConnectCheckBox"));
    autoConnectBox_->setAccessibleName(autoConnectBox_->text());
    autoConnectBox_->setGeometry(du.rect(46, 82, 166, 10));
    autoConnectBox_->setChecked(working_.autoConnect);
    connect(autoConnectBox_, &QCheckBox::toggled, this, [this](bool on) { working_.autoConnect = on; });

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(du.rect(4, 96, 212, 2));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setAccessibleName(ok->text());
    ok->setDefault(true);
    ok->setGeometry(du.rect(108, 106, 50, 14));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAccessibleName(cancel->text());
    cancel->setGeometry(du.rect(162, 106, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    connect(latencySlider_, &QSlider::valueChanged, this, &SettingsDialog::latencyMoved);
    ready_ = false;
    latencySlider_->setRange(kMinLatencyFrames, kMaxLatencyFrames);
    latencySlider_->setValue(working_.latencyFrames);
    ready_ = true;
    refreshLatencyDisplay();

    deviceList_->clear();
    for (const std::string& name : devices)
        deviceList_->addItem(QString::fromLocal8Bit(name.c_str()));
    // With no such device nothing is selected and the working index stays as it was.
    deviceList_->setCurrentIndex(
        working_.deviceIndex >= 0 && working_.deviceIndex < deviceList_->count() ? working_.deviceIndex : -1);
    connect(deviceList_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            working_.deviceIndex = index;
    });
}

void SettingsDialog::setDcFilter(bool on) {
    dcFilterBox_->setChecked(on);
}

bool SettingsDialog::dcFilter() const {
    return dcFilterBox_->isChecked();
}

void SettingsDialog::latencyMoved(int position) {
    if (ready_)
        working_.latencyFrames = position;
    refreshLatencyDisplay();
}

void SettingsDialog::refreshLatencyDisplay() {
    latencyDisplay_->setText(QString::asprintf("%d ms", latencyMilliseconds(working_.latencyFrames)));
}

} // namespace vexla
