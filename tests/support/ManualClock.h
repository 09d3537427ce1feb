// A clock for progress figures that moves only when a test sets it.
#pragma once

#include <chrono>

#include "app/TProgresso.h"

namespace ab::test {

class ManualClock {
  public:
    TProgresso::TRelogio Relogio() {
        return [this] { return now_; };
    }
    void Set(std::chrono::milliseconds since) { now_ = origin_ + since; }

  private:
    std::chrono::steady_clock::time_point origin_ =
        std::chrono::steady_clock::time_point(std::chrono::hours(100));
    std::chrono::steady_clock::time_point now_ = origin_;
};

}  // namespace ab::test
