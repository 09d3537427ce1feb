// The filter registry and the registration of the built-in filters.
#include "transport/TTransportFilterFactory.h"

#include "transport/TransportConstants.h"

#if AB_HAVE_FILTERS
#include "transport/filters/TRSAFilter.h"
#include "transport/filters/TTransportCompressionFilter.h"
#include "transport/filters/TTransportCypherFilter.h"
#endif

namespace ab {

TTransportFilterFactory& TTransportFilterFactory::Instance() {
    static TTransportFilterFactory* instance = [] {
        auto* factory = new TTransportFilterFactory();
        factory->RegisterBuiltInFilters();
        return factory;
    }();
    return *instance;
}

void TTransportFilterFactory::RegisterBuiltInFilters() {
#if AB_HAVE_FILTERS
    namespace C = TransportConstants;
    RegisterFilter(C::CompressionFilterId,
                   [] { return std::make_unique<TTransportCompressionFilter>(); });
    RegisterFilter(C::PC1FilterId, [] { return std::make_unique<TTransportCypherFilter>(); });
    RegisterFilter(C::RSAFilterId, [] { return std::make_unique<TRSAFilter>(); });
#endif
}

void TTransportFilterFactory::RegisterFilter(std::u16string id, Creator creator) {
    creators_[std::move(id)] = std::move(creator);
}

void TTransportFilterFactory::UnregisterFilter(const std::u16string& id) {
    creators_.erase(id);
}

bool TTransportFilterFactory::IsRegistered(const std::u16string& id) const {
    return creators_.count(id) != 0;
}

std::vector<std::u16string> TTransportFilterFactory::RegisteredIds() const {
    std::vector<std::u16string> ids;
    for (const auto& [id, creator] : creators_)
        ids.push_back(id);
    return ids;
}

std::unique_ptr<TTransportFilter> TTransportFilterFactory::CreateFilter(
    std::u16string_view id) const {
    const auto it = creators_.find(id);
    if (it == creators_.end())
        return nullptr;
    return it->second();
}

}  // namespace ab
