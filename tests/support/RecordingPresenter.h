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
    // Forgets the boxes recorded so far.
    virtual void Clear() {
        std::lock_guard<std::mutex> guard(lock_);
        boxes_.clear();
    }

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

// Installs a fresh presenter of type P for its lifetime and then puts the previous one back.
template <class P = RecordingPresenter>
class ScopedPresenter {
public:
    ScopedPresenter()
        : presenter_(std::make_shared<P>()), previous_(sys::SetMessageBoxPresenter(presenter_)) {}
    ~ScopedPresenter() { sys::SetMessageBoxPresenter(previous_); }
    ScopedPresenter(const ScopedPresenter&) = delete;
    ScopedPresenter& operator=(const ScopedPresenter&) = delete;

    P* operator->() const { return presenter_.get(); }
    P& operator*() const { return *presenter_; }

private:
    std::shared_ptr<P> presenter_;
    std::shared_ptr<sys::IMessageBoxPresenter> previous_;
};

using ScopedRecordingPresenter = ScopedPresenter<>;

}  // namespace support
