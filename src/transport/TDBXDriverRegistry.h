// The process-wide driver registry: driver names (case-insensitive) to driver classes. The server
// driver is registered under "DataSnap" from the start. The first request for a name creates the
// driver, which then stays until the program ends.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "transport/TDBXDriver.h"

namespace ab {

class TDBXDriverRegistry {
  public:
    using Creator = std::function<std::unique_ptr<TDBXDriver>()>;

    static TDBXDriverRegistry& Instance();

    // Registering an existing name replaces its class (a driver already created stays).
    void RegisterDriver(std::u16string name, Creator creator);
    bool IsRegistered(std::u16string_view name) const;
    // The driver for the name; TDBXError code 22 "Unknown driver:  %s" when none is registered.
    TDBXDriver& GetDriver(std::u16string_view name);

  private:
    TDBXDriverRegistry();
    struct Entry {
        std::u16string name;
        Creator creator;
        std::unique_ptr<TDBXDriver> driver;
    };
    Entry* Find(std::u16string_view name);
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace ab
