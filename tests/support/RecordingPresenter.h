// Message boxes in tests: a presenter that records every box and answers as told, and a
// scope that installs one and puts the previous presenter back.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sys/Sys.h"

namespace support {

class RecordingPresenter : public sys::IMessageBoxPresenter {
public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned style = 0;
    };

    // Boxes may come from streaming and saving threads, so every access is locked.
    int Present(const std::string& text, const std::string& caption, unsigned style) override {
        std::lock_guard<std::mutex> guard(lock_);
        boxes_.push_back({text, caption, style});
        return answer_;
    }

    // The answer every later box gets; sys::IDOK until set.
    void SetAnswer(int answer) { answer_ = answer; }

    std::vector<Box> Boxes() const {
        std::lock_guard<std::mutex> guard(lock_);
        return boxes_;
    }
    std::vector<std::string> Texts() const { return Field(&Box::text); }
    std::vector<std::string> Captions() const { return Field(&Box::caption); }

private:
    std::vector<std::string> Field(std::string Box::*member) const {
        std::vector<std::string> values;
        for (const Box& box : Boxes()) values.push_back(box.*member);
        return values;
    }

    mutable std::mutex lock_;
    std::vector<Box> boxes_;
    std::atomic<int> answer_{sys::IDOK};
};

// Installs a fresh RecordingPresenter for its lifetime.
class ScopedRecordingPresenter {
public:
    ScopedRecordingPresenter()
        : presenter_(std::make_shared<RecordingPresenter>()),
          previous_(sys::SetMessageBoxPresenter(presenter_)) {}
    ~ScopedRecordingPresenter() { sys::SetMessageBoxPresenter(previous_); }
    ScopedRecordingPresenter(const ScopedRecordingPresenter&) = delete;
    ScopedRecordingPresenter& operator=(const ScopedRecordingPresenter&) = delete;

    RecordingPresenter* operator->() const { return presenter_.get(); }
    RecordingPresenter& operator*() const { return *presenter_; }

private:
    std::shared_ptr<RecordingPresenter> presenter_;
    std::shared_ptr<sys::IMessageBoxPresenter> previous_;
};

}  // namespace support
