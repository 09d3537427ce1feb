// The abort signal shared between the connection component and the socket channel.
#include "transport/TDBXAbortSignal.h"

#include <algorithm>

namespace ab {

void TDBXAbortSignal::Abort() {
    std::lock_guard lock(mutex_);
    if (aborted_)
        return;
    aborted_ = true;
    for (auto& [id, hook] : hooks_)
        hook();
}

bool TDBXAbortSignal::IsAborted() const {
    std::lock_guard lock(mutex_);
    return aborted_;
}

std::uint64_t TDBXAbortSignal::Register(Hook hook) {
    std::lock_guard lock(mutex_);
    if (aborted_)
        hook();
    const std::uint64_t id = nextId_++;
    hooks_.emplace_back(id, std::move(hook));
    return id;
}

void TDBXAbortSignal::Unregister(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(hooks_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace ab
