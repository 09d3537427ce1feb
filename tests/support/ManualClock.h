// A clock for time-driven figures (progress, the bandwidth cap) that moves only when a test sets
// it.
#pragma once

#include <chrono>
#include <functional>

namespace ab::test {

class ManualClock {
  public:
    using TRelogio = std::function<std::chrono::steady_clock::time_point()>;

    TRelogio Relogio() {
        return [this] { return now_; };
    }
    void Set(std::chrono::milliseconds since) { now_ = origin_ + since; }

  private:
    std::chrono::steady_clock::time_point origin_ =
        std::chrono::steady_clock::time_point(std::chrono::hours(100));
    std::chrono::steady_clock::time_point now_ = origin_;
};

}  // namespace ab::test
