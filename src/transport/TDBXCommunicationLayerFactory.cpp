// Registry of communication layers.
#include "transport/TDBXCommunicationLayerFactory.h"

#include "transport/TDBXIdTCPLayer.h"
#include "transport/TDBXProperties.h"
#include "transport/TransportConstants.h"

namespace ab {

TDBXCommunicationLayerFactory::TDBXCommunicationLayerFactory() {
    layers_.emplace_back(TransportConstants::TcpLayerName,
                         [] { return std::make_unique<TDBXIdTCPLayer>(); });
}

TDBXCommunicationLayerFactory& TDBXCommunicationLayerFactory::Instance() {
    static TDBXCommunicationLayerFactory instance;
    return instance;
}

void TDBXCommunicationLayerFactory::RegisterLayer(std::u16string name, Creator creator) {
    std::lock_guard lock(mutex_);
    for (auto& [existing, c] : layers_) {
        if (TDBXProperties::SameName(existing, name)) {
            c = std::move(creator);
            return;
        }
    }
    layers_.emplace_back(std::move(name), std::move(creator));
}

void TDBXCommunicationLayerFactory::UnregisterLayer(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    std::erase_if(layers_, [&](const auto& e) { return TDBXProperties::SameName(e.first, name); });
}

std::unique_ptr<TDBXCommunicationLayer> TDBXCommunicationLayerFactory::CreateInstance(
    std::u16string_view name) const {
    Creator creator;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [existing, c] : layers_) {
            if (TDBXProperties::SameName(existing, name))
                creator = c;
        }
    }
    if (!creator)
        return nullptr;
    try {
        return creator();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace ab
