// A way to end a connection from another thread. The connection component creates one for each
// connect and hands it down to the socket channel, which registers its layer's Terminate while the
// layer lives; Abort, from any thread, runs what is registered.
//
// Thread safety: every member may be called from any thread. Hooks run under the signal's lock, so
// once Unregister returns its hook is neither running nor will run again: the owner may then free
// what the hook reaches. A hook must not call back into the signal.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace ab {

class TDBXAbortSignal {
  public:
    using Hook = std::function<void()>;

    // Marks the signal aborted and runs every registered hook once. Later calls do nothing.
    void Abort();
    bool IsAborted() const;
    // Registers a hook; on a signal already aborted the hook runs at once. The id is for
    // Unregister.
    std::uint64_t Register(Hook hook);
    void Unregister(std::uint64_t id);

  private:
    mutable std::mutex mutex_;
    bool aborted_ = false;
    std::uint64_t nextId_ = 1;
    std::vector<std::pair<std::uint64_t, Hook>> hooks_;
};

}  // namespace ab
