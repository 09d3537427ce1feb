// State the connections of one update server share: its settings, the file store, the counters
// behind fault injection and handles (the messages received from every connection among them),
// and the event log.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include "server/TFileStore.h"
#include "server/TServerOptions.h"

namespace ab::server {

// What to do with a message just received, by its number across all connections.
enum class TMessageFault { None, Drop, Error, Silence };

struct TServerContext {
    TServerContext(TServerOptions o, TFileStore& s) : options(std::move(o)), store(s) {}

    const TServerOptions options;
    TFileStore& store;
    std::atomic<int> sendFileCalls{0};
    std::atomic<int> pulls{0};
    std::atomic<std::int32_t> nextConnectionHandle{1};
    std::atomic<std::int64_t> messages{0};
    std::atomic<int> logins{0};

    // Counts one message, fully read; its number (from 1) and the fault it was chosen for. When
    // both faults name the same message, the drop wins.
    std::pair<std::int64_t, TMessageFault> CountMessage() {
        const std::int64_t number = messages.fetch_add(1) + 1;
        if (number == options.dropAtMessage)
            return {number, TMessageFault::Drop};
        if (number == options.errorAtMessage)
            return {number, TMessageFault::Error};
        if (options.silentFromMessage > 0 && number >= options.silentFromMessage)
            return {number, TMessageFault::Silence};
        return {number, TMessageFault::None};
    }

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
