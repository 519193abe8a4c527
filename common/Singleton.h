// Base of the process-wide services: one instance, created on first use.
#pragma once

#include <atomic>
#include <mutex>

namespace Tolm {

template <class T>
class Singleton {
public:
    // Creation is guarded so two threads that race on first use get the same object.
    static T* Instance() {
        T* instance = instance_.load(std::memory_order_acquire);
        if (instance == nullptr) {
            std::lock_guard<std::mutex> lock(creationLock_);
            instance = instance_.load(std::memory_order_relaxed);
            if (instance == nullptr) {
                instance = new T();
                instance_.store(instance, std::memory_order_release);
            }
        }
        return instance;
    }

    static void Destroy() {
        std::lock_guard<std::mutex> lock(creationLock_);
        delete instance_.exchange(nullptr, std::memory_order_acq_rel);
    }

    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

protected:
    Singleton() = default;
    virtual ~Singleton() = default;

private:
    static inline std::atomic<T*> instance_{nullptr};
    static inline std::mutex creationLock_;
};

}  // namespace Tolm
