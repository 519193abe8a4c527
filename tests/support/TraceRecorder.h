// The debug trace in tests: records every line written while it exists, from any thread.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sys/Sys.h"

namespace support {

class TraceRecorder {
public:
    // The receiver shares the lines, so a thread still inside it when the recorder goes
    // writes into memory that is still there.
    TraceRecorder()
        : store_(std::make_shared<Store>()),
          previous_(sys::SetTraceReceiver([store = store_](const std::string& line) {
              std::lock_guard<std::mutex> guard(store->lock);
              store->lines.push_back(line);
          })) {}
    ~TraceRecorder() { sys::SetTraceReceiver(previous_); }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> guard(store_->lock);
        return store_->lines;
    }
    // The first recorded line holding every one of `parts`; empty when none does.
    std::string Find(std::initializer_list<std::string> parts) const {
        for (const std::string& line : Lines()) {
            if (std::all_of(parts.begin(), parts.end(), [&](const std::string& part) {
                    return line.find(part) != std::string::npos;
                }))
                return line;
        }
        return {};
    }

private:
    struct Store {
        std::mutex lock;
        std::vector<std::string> lines;
    };
    std::shared_ptr<Store> store_;
    sys::TraceReceiver previous_;
};

}  // namespace support
