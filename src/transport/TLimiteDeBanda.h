// A cap on the bytes written to the server per second, shared by every connection of a run: a
// token bucket that holds at most one second's worth and starts empty, so N bytes written at R
// bytes per second from its making on take at least N / R seconds, and a pause (the questions
// about unchanged files, a wait for an answer) saves up no more than one second at the cap.
//
// A writer takes its bytes (at most Fatia() at a time, so a large block leaves in slices and never
// in one burst above the cap) and is told how long to wait before writing them. Takes are served
// in the order they are made: the bytes taken count at once, and each later take waits behind
// them, so connections share the cap fairly. The wait is the writer's own, made without the
// bucket's lock, so a writer can end it early (an abort) and give the bytes back.
//
// Thread safety: every member may be called from any thread; each holds the lock only for its
// bookkeeping.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace ab {

class TLimiteDeBanda {
  public:
    using TRelogio = std::function<std::chrono::steady_clock::time_point()>;
    // The largest slice: small enough that a slice's wait at any cap is short and smooth, large
    // enough that a fast cap costs few system calls.
    static constexpr std::size_t kFatiaMaxima = 64 * 1024;

    // `bytesPorSegundo` at least 1; `relogio` tells the time (the steady clock when empty).
    explicit TLimiteDeBanda(std::uint64_t bytesPorSegundo, TRelogio relogio = {});

    std::uint64_t BytesPorSegundo() const { return bytesPorSegundo_; }
    // The most bytes one take may ask for: kFatiaMaxima, or one second's worth when that is less.
    std::size_t Fatia() const { return fatia_; }
    // Takes `bytes` and says how long to wait before writing them: zero when the bucket holds
    // them. More than Fatia() is charged in full, but would leave in one burst.
    std::chrono::nanoseconds Tomar(std::size_t bytes);
    // Gives back bytes taken that were never written (the write ended during its wait).
    void Devolver(std::size_t bytes);

  private:
    std::chrono::nanoseconds Custo(std::size_t bytes) const;

    const std::uint64_t bytesPorSegundo_;
    const std::size_t fatia_;
    TRelogio relogio_;
    std::mutex mutex_;
    // When the bucket is (or was, or will be) empty once every byte taken so far has had its
    // time: the bucket holds the bytes of the time since then, one second's worth at most. Ahead
    // of now, the takes still waiting for their turn.
    std::chrono::steady_clock::time_point vazio_;
};

// A connection's part in a cap: the bucket it shares with the other connections (none when null),
// and who is told of the bytes it wrote under it, on the writing thread after each slice.
struct TLimiteDaConexao {
    std::shared_ptr<TLimiteDeBanda> Limite;
    std::function<void(std::size_t)> AoEscrever;
};

}  // namespace ab
