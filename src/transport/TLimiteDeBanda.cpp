// The token bucket behind the bandwidth cap.
#include "transport/TLimiteDeBanda.h"

#include <algorithm>

namespace ab {

TLimiteDeBanda::TLimiteDeBanda(std::uint64_t bytesPorSegundo, TRelogio relogio)
    : bytesPorSegundo_(std::max<std::uint64_t>(bytesPorSegundo, 1)),
      fatia_(static_cast<std::size_t>(std::min<std::uint64_t>(kFatiaMaxima, bytesPorSegundo_))),
      relogio_(relogio ? std::move(relogio) : [] { return std::chrono::steady_clock::now(); }),
      vazio_(relogio_()) {}

std::chrono::nanoseconds TLimiteDeBanda::Custo(std::size_t bytes) const {
    // Rounded up, so the cap is never passed. No write is near the 18 GB that would overflow.
    const std::uint64_t ns =
        (static_cast<std::uint64_t>(bytes) * 1'000'000'000 + bytesPorSegundo_ - 1) /
        bytesPorSegundo_;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns));
}

std::chrono::nanoseconds TLimiteDeBanda::Tomar(std::size_t bytes) {
    const auto custo = Custo(bytes);
    std::lock_guard lock(mutex_);
    const auto agora = relogio_();
    // An idle bucket fills up to one second's worth, no more.
    vazio_ = std::max(vazio_, agora - std::chrono::seconds(1)) + custo;
    return std::max(std::chrono::nanoseconds(0), vazio_ - agora);
}

void TLimiteDeBanda::Devolver(std::size_t bytes) {
    const auto custo = Custo(bytes);
    std::lock_guard lock(mutex_);
    vazio_ -= custo;
}

}  // namespace ab
