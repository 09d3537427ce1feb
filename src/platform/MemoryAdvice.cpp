// Huge-page advice for large buffers.
#include "platform/MemoryAdvice.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace ab {

void AdviseLargeBuffer(void* data, std::size_t size) noexcept {
    constexpr std::size_t kLarge = 4u << 20;
    if (data == nullptr || size < kLarge)
        return;
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace ab
