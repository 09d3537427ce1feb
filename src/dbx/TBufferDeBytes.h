// Byte buffers whose room is not zeroed when it grows. A connection's buffers are as large as its
// blocks (megabytes with large blocks), yet only what a message writes or a read receives is ever
// looked at: room never touched costs no memory and no time.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace ab {

template <class T>
struct TAlocadorSemZerar : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = TAlocadorSemZerar<U>;
    };
    TAlocadorSemZerar() = default;
    template <class U>
    TAlocadorSemZerar(const TAlocadorSemZerar<U>&) noexcept {}
    // Growing default-initialises: for bytes, nothing is written.
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using TBufferDeBytes = std::vector<std::uint8_t, TAlocadorSemZerar<std::uint8_t>>;

}  // namespace ab
