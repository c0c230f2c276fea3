#pragma once

#include <atomic>

// A plain value shared between threads without a lock: loads and stores are atomic with
// relaxed order, so reading it while another thread writes it is defined behaviour.
template <typename T> class Relaxed {
public:
    constexpr Relaxed() noexcept : value_{} {}
    constexpr Relaxed(T v) noexcept : value_{v} {}
    Relaxed(const Relaxed&) = delete;
    Relaxed& operator=(const Relaxed&) = delete;

    operator T() const noexcept { return value_.load(std::memory_order_relaxed); }
    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    Relaxed& operator=(T v) noexcept {
        value_.store(v, std::memory_order_relaxed);
        return *this;
    }

private:
    std::atomic<T> value_;
};
