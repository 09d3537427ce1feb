// The driver registry.
#include "transport/TDBXDriverRegistry.h"

#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "transport/TDBXServerDriver.h"
#include "transport/TransportConstants.h"

namespace ab {

TDBXDriverRegistry::TDBXDriverRegistry() {
    entries_.push_back({TransportConstants::ServerDriverName,
                        [] { return std::make_unique<TDBXServerDriver>(); }, nullptr});
}

TDBXDriverRegistry& TDBXDriverRegistry::Instance() {
    static TDBXDriverRegistry instance;
    return instance;
}

TDBXDriverRegistry::Entry* TDBXDriverRegistry::Find(std::u16string_view name) {
    for (auto& e : entries_) {
        if (TDBXProperties::SameName(e.name, name))
            return &e;
    }
    return nullptr;
}

void TDBXDriverRegistry::RegisterDriver(std::u16string name, Creator creator) {
    std::lock_guard lock(mutex_);
    if (Entry* e = Find(name)) {
        e->creator = std::move(creator);
        return;
    }
    entries_.push_back({std::move(name), std::move(creator), nullptr});
}

bool TDBXDriverRegistry::IsRegistered(std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    return const_cast<TDBXDriverRegistry*>(this)->Find(name) != nullptr;
}

TDBXDriver& TDBXDriverRegistry::GetDriver(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    Entry* e = Find(name);
    if (!e) {
        throw TDBXError(TDBXErrorCodes::DriverInitFailed,
                        Format(TransportConstants::ErrUnknownDriver, {name}));
    }
    if (!e->driver)
        e->driver = e->creator();
    return *e->driver;
}

}  // namespace ab
