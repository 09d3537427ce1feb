// State the connections of one update server share: its settings, the file store, the counters
// behind fault injection and handles, and the event log.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "server/TFileStore.h"
#include "server/TServerOptions.h"

namespace ab::server {

struct TServerContext {
    TServerContext(TServerOptions o, TFileStore& s) : options(std::move(o)), store(s) {}

    const TServerOptions options;
    TFileStore& store;
    std::atomic<int> sendFileCalls{0};
    std::atomic<int> pulls{0};
    std::atomic<std::int32_t> nextConnectionHandle{1};

    void Log(const std::string& line) {
        if (!options.log)
            return;
        std::lock_guard lock(logMutex);
        std::fprintf(stderr, "atualizador-servidor: %s\n", line.c_str());
        std::fflush(stderr);
    }

  private:
    std::mutex logMutex;
};

}  // namespace ab::server
