#include "Skelvane/capture/TimeLapseDialog.h"

#include <QFile>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Skelvane/capture/TextFormat.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/LocalizedText.h"
#include "platform/sys/Sys.h"

namespace {

// Often enough for a smooth bar, rarely enough to cost the builder nothing.
constexpr int kPollMs = 100;

QString Formatted(const char* key, const char* english, const std::string& text,
                  std::initializer_list<int64_t> numbers) {
    return QString::fromStdString(
        FormatWithTextAndNumbers(GetLocalizedString(key, english), text, numbers));
}

void Name(QWidget* widget, const char* objectName, const QString& text) {
    widget->setObjectName(objectName);
    widget->setAccessibleName(text);
}

}  // namespace

CTimeLapseDialog::CTimeLapseDialog(QWidget* parent, const std::string& folder,
                                   PictureList listPictures, std::string moviesFolder,
                                   std::function<void(const std::string&)> reveal)
    : QDialog(parent),
      listPictures_(std::move(listPictures)),
      moviesFolder_(std::move(moviesFolder)),
      reveal_(std::move(reveal)),
      summary_(new QLabel(this)),
      rateLabel_(new QLabel(LocalizedText("ui_timelapse_rate", "Pictures a second:"), this)),
      rate_(new QComboBox(this)),
      progress_(new QProgressBar(this)),
      count_(new QLabel(this)),
      timeLeft_(new QLabel(this)),
      start_(new QPushButton(LocalizedText("ui_timelapse_start", "Make"), this)),
      cancel_(new QPushButton(LocalizedText("ui_timelapse_cancel", "Cancel"), this)) {
    setObjectName("timeLapseDialog");
    const QString title = LocalizedText("ui_menu_make_movie", "Make a movie");
    setWindowTitle(title);
    setAccessibleName(title);
    const int32_t total = static_cast<int32_t>(listPictures_().size());
    // The folder's name is shown as the file system has it, like the tree shows it.
    const std::string shownFolder =
        QFile::decodeName(QByteArray::fromStdString(folder)).toStdString();
    summary_->setText(
        Formatted("ui_timelapse_pictures", "%d pictures in %s", shownFolder, {total}));
    summary_->setWordWrap(true);
    Name(summary_, "timeLapseSummary", summary_->text());
    for (uint32_t rate : kTimeLapseRates) {
        rate_->addItem(QString::number(rate), rate);
        if (rate == kDefaultTimeLapseRate) rate_->setCurrentIndex(rate_->count() - 1);
    }
    // Named by its label through the buddy; its own name stays the rate shown.
    rate_->setObjectName("timeLapseRate");
    rateLabel_->setBuddy(rate_);
    Name(progress_, "timeLapseProgress", title);
    Name(count_, "timeLapseCount", QString());
    Name(timeLeft_, "timeLapseTimeLeft", QString());
    Name(start_, "timeLapseStart", start_->text());
    Name(cancel_, "timeLapseCancel", cancel_->text());
    start_->setDefault(true);
    progress_->hide();
    count_->hide();
    timeLeft_->hide();

    auto* rateRow = new QHBoxLayout;
    rateRow->addWidget(rateLabel_);
    rateRow->addWidget(rate_);
    rateRow->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary_);
    layout->addLayout(rateRow);
    layout->addWidget(progress_);
    layout->addWidget(count_);
    layout->addWidget(timeLeft_);
    layout->addLayout(buttons);
    // The dialog follows its contents: the progress rows appear at the start, and the
    // folder's name may wrap.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    summary_->setMinimumWidth(360);

    connect(start_, &QPushButton::clicked, this, [this] { Start(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
}

CTimeLapseDialog::~CTimeLapseDialog() {
    if (builder_) builder_->Cancel();
    if (worker_.joinable()) worker_.join();
}

uint32_t CTimeLapseDialog::Rate() const {
    return rate_->currentData().toUInt();
}

QString CTimeLapseDialog::TimeLeftText(int64_t elapsedMs, int32_t done, int32_t total) {
    if (done <= 0 || elapsedMs <= 0)
        return LocalizedText("ui_timelapse_estimating", "Estimating the time left");
    // Rounded up: "0:00 left" is never shown while pictures remain.
    const int64_t leftMs = (elapsedMs * (total - done) + done - 1) / done;
    const int64_t seconds = (leftMs + 999) / 1000;
    const QString clock = QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
    return Formatted("ui_timelapse_time_left", "About %s left", clock.toStdString(), {});
}

void CTimeLapseDialog::Start() {
    start_->hide();
    rate_->setEnabled(false);
    progress_->show();
    count_->show();
    timeLeft_->show();
    builder_ = std::make_unique<CTimeLapseBuilder>(listPictures_(), moviesFolder_, Rate());
    progress_->setRange(0, std::max(builder_->Total(), 1));
    startMs_ = sys::ProcessClockMs();
    Poll();
    worker_ = std::thread([builder = builder_.get()] { builder->Run(); });
    poll_.start();
}

void CTimeLapseDialog::Poll() {
    const int32_t done = builder_->Done();
    const int32_t total = builder_->Total();
    progress_->setValue(done);
    count_->setText(Formatted("ui_timelapse_progress", "%d of %d pictures", "", {done, total}));
    count_->setAccessibleName(count_->text());
    timeLeft_->setText(TimeLeftText(sys::ProcessClockMs() - startMs_, done, total));
    timeLeft_->setAccessibleName(timeLeft_->text());
    const CTimeLapseBuilder::Outcome outcome = builder_->Result();
    if (outcome != CTimeLapseBuilder::kRunning) Finished(outcome);
}

void CTimeLapseDialog::Finished(CTimeLapseBuilder::Outcome outcome) {
    poll_.stop();
    worker_.join();
    if (outcome != CTimeLapseBuilder::kMade) return QDialog::reject();
    reveal_(builder_->MoviePath());
    if (const int32_t skipped = builder_->Skipped(); skipped > 0)
        sys::WarningBox(
            Formatted("ui_timelapse_skipped", "%d damaged pictures were skipped", "", {skipped})
                .toStdString());
    accept();
}

void CTimeLapseDialog::reject() {
    // Cancel, Escape and the close box: a movie being made is given up and leaves no file;
    // the dialog closes once the builder has stopped.
    if (builder_ && worker_.joinable()) {
        builder_->Cancel();
        cancel_->setEnabled(false);
        return;
    }
    QDialog::reject();
}
