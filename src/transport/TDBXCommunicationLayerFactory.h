// The process-wide registry of communication layers, by case-insensitive name; "tcp/ip" is
// registered from the start.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transport/TDBXCommunicationLayer.h"

namespace ab {

class TDBXCommunicationLayerFactory {
  public:
    using Creator = std::function<std::unique_ptr<TDBXCommunicationLayer>()>;

    static TDBXCommunicationLayerFactory& Instance();

    // Registering an existing name (in any letter case) replaces its class.
    void RegisterLayer(std::u16string name, Creator creator);
    void UnregisterLayer(std::u16string_view name);
    // A new layer of the registered class; nullptr for an unknown name or a failed constructor.
    std::unique_ptr<TDBXCommunicationLayer> CreateInstance(std::u16string_view name) const;

  private:
    TDBXCommunicationLayerFactory();
    mutable std::mutex mutex_;
    std::vector<std::pair<std::u16string, Creator>> layers_;
};

}  // namespace ab
