// The filter registry: creates a transport filter from its id. The process-wide instance knows the
// three built-in filters; tests and the bundled server may build their own registries.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transport/TTransportFilter.h"

namespace ab {

class TTransportFilterFactory {
  public:
    using Creator = std::function<std::unique_ptr<TTransportFilter>()>;

    // An empty registry.
    TTransportFilterFactory() = default;
    // The process-wide registry, holding "ZLibCompression", "PC1" and "RSA".
    static TTransportFilterFactory& Instance();
    // Adds the three built-in filters to this registry.
    void RegisterBuiltInFilters();

    // Registering an existing id replaces its creator.
    void RegisterFilter(std::u16string id, Creator creator);
    void UnregisterFilter(const std::u16string& id);
    bool IsRegistered(const std::u16string& id) const;
    std::vector<std::u16string> RegisteredIds() const;
    // nullptr when no filter has the id.
    std::unique_ptr<TTransportFilter> CreateFilter(std::u16string_view id) const;

  private:
    std::map<std::u16string, Creator, std::less<>> creators_;
};

}  // namespace ab
