// "Make a movie": the rate choice for a folder of timed shots, then the progress of the
// time-lapse builder (pictures done of total, time left) with Cancel. The builder works on a
// thread of its own; the dialog reads its counts on a timer.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Skelvane/capture/TimeLapseMovie.h"

class CTimeLapseDialog : public QDialog {
    Q_OBJECT
public:
    using PictureList = std::function<std::vector<std::string>()>;
    // A movie of the pictures of `folder` that `listPictures` gives, to be stored in
    // `moviesFolder`; `reveal` gets the stored movie on the user-interface thread. The
    // pictures are listed again when the movie starts, so shots still being saved as the
    // dialog opened are in it.
    CTimeLapseDialog(QWidget* parent, const std::string& folder, PictureList listPictures,
                     std::string moviesFolder, std::function<void(const std::string&)> reveal);
    // Ends Accepted once the movie is stored. A movie still being made when the dialog goes
    // is cancelled, and its thread waited for.
    ~CTimeLapseDialog() override;

    // The rate picked, in pictures a second.
    uint32_t Rate() const;
    QPushButton* StartButton() const { return start_; }

    // "About 1:05 left" for the time still needed when `done` of `total` took `elapsedMs`;
    // the estimating text before the first picture is done.
    static QString TimeLeftText(int64_t elapsedMs, int32_t done, int32_t total);

    void reject() override;

private:
    void Start();
    void Poll();
    void Finished(CTimeLapseBuilder::Outcome outcome);

    PictureList listPictures_;
    std::string moviesFolder_;
    std::function<void(const std::string&)> reveal_;
    QLabel* summary_;
    QLabel* rateLabel_;
    QComboBox* rate_;
    QProgressBar* progress_;
    QLabel* count_;
    QLabel* timeLeft_;
    QPushButton* start_;
    QPushButton* cancel_;
    QTimer poll_;
    int64_t startMs_ = 0;
    std::unique_ptr<CTimeLapseBuilder> builder_;
    std::thread worker_;
};
