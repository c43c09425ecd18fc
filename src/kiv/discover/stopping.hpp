// When a search must stop early: its stop flag and deadline, polled from any of its threads.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

#include "kiv/discover/search.hpp"

namespace kiv::discover {

// Thrown on the searching thread once a poll has seen the stop flag or the deadline; the search catches it.
struct Halt {};

class Stopping {
public:
    Stopping(const std::atomic<bool>* flag, std::optional<std::chrono::steady_clock::time_point> deadline) noexcept
        : flag_(flag), deadline_(deadline), watched_(flag != nullptr || deadline.has_value()) {}

    // True once the stop flag or the deadline has been seen, by this poll or an earlier one on any thread;
    // the first reason seen is kept. Free when neither is set. Safe on pool threads: the reason is the one
    // thing outside its own output that a pool thread may write, and it is an atomic.
    bool halted() const noexcept {
        if (!watched_) return false;
        if (reason_.load(std::memory_order_relaxed) != 0) return true;
        StopReason why = StopReason::None;
        if (flag_ && flag_->load(std::memory_order_relaxed)) {
            why = StopReason::Requested;
        } else if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
            why = StopReason::Deadline;
        }
        if (why == StopReason::None) return false;
        std::uint8_t none = 0;
        reason_.compare_exchange_strong(none, static_cast<std::uint8_t>(why), std::memory_order_relaxed);
        return true;
    }

    // On the searching thread only, outside parallel passes: ends the search by throwing Halt.
    void check() const {
        if (halted()) throw Halt{};
    }

    StopReason reason() const noexcept { return static_cast<StopReason>(reason_.load(std::memory_order_relaxed)); }

private:
    const std::atomic<bool>* flag_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool watched_;
    mutable std::atomic<std::uint8_t> reason_{0};
};

}  // namespace kiv::discover
