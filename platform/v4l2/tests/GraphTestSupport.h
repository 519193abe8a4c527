// What the camera filter tests share: a registry store of their own with COM started, a
// grabber callback that counts frames, the names a device moniker carries and the camera's
// capture graph.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry/Registry.h"
#include "tests/support/GrabberGraph.h"

namespace v4l2::testing {

// A store below the temporary folder (named after `prefix` and the process) and COM started
// on this thread, for as long as the object lives.
class PrivateStore {
public:
    explicit PrivateStore(const std::string& prefix)
        : folder_(std::filesystem::temp_directory_path() /
                  (prefix + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(folder_ / "run");
        registry::SetStoreFolders(folder_.string(), (folder_ / "run").string());
        CoInitialize(nullptr);
    }
    ~PrivateStore() {
        CoUninitialize();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PrivateStore(const PrivateStore&) = delete;
    PrivateStore& operator=(const PrivateStore&) = delete;

    const std::filesystem::path& Folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

// Counts the frames a grabber hands over and keeps the last one.
class FrameCounter final : public support::BufferCallback<> {
public:
    HRESULT BufferCB(double, BYTE* buffer, long length) override {
        std::lock_guard lock(mutex_);
        last_.assign(buffer, buffer + length);
        ++frames_;
        changed_.notify_all();
        return S_OK;
    }
    // Whether `count` frames came in all within `limit`.
    bool WaitFrames(int count, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return frames_ >= count; });
    }
    // Waits for `more` frames after those seen so far, `perFrame` each; returns the last one.
    std::vector<BYTE> WaitMore(int more, std::chrono::milliseconds perFrame) {
        std::unique_lock lock(mutex_);
        const int wanted = frames_ + more;
        if (!changed_.wait_for(lock, perFrame * more, [&] { return frames_ >= wanted; }))
            ADD_FAILURE() << "only " << frames_ << " of " << wanted << " frames came";
        return last_;
    }
    int Frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<BYTE> Last() {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<BYTE> last_;
    int frames_ = 0;
};

// An object of a built-in or registered class; the test fails when it cannot be made.
template <class T>
CComPtr<T> Create(const CLSID& clsid, const IID& iid) {
    CComPtr<T> object = support::CreateObject<T>(clsid, iid);
    EXPECT_TRUE(object) << "the class did not make an object";
    return object;
}

// The "FriendlyName" and "DevicePath" a device moniker's property bag holds; the test fails
// when either cannot be read.
inline std::pair<std::string, std::string> NameAndPath(IMoniker* moniker) {
    std::pair<std::string, std::string> names;
    CComPtr<IPropertyBag> bag;
    EXPECT_EQ(
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)),
        S_OK);
    if (!bag) return names;
    for (auto [property, value] :
         {std::pair{L"FriendlyName", &names.first}, std::pair{L"DevicePath", &names.second}}) {
        VARIANT variant;
        VariantInit(&variant);
        EXPECT_EQ(bag->Read(property, &variant, nullptr), S_OK) << com::WideToUtf8(property);
        if (variant.vt == VT_BSTR && variant.bstrVal != nullptr)
            *value = com::WideToUtf8(variant.bstrVal);
        VariantClear(&variant);
    }
    return names;
}

// camera -> grabber -> null renderer on the capture pin, and the same on the still pin when
// `still` is given; the graph is left stopped.
inline support::GrabberGraph BuildGraph(IBaseFilter* camera, FrameCounter& preview,
                                        FrameCounter* still = nullptr) {
    support::GrabberGraph g;
    EXPECT_EQ(support::BuildGrabberGraph(camera, &preview, still, g), S_OK);
    return g;
}

}  // namespace v4l2::testing
